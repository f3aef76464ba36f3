// Test programs that carry a bundle. The launcher's code reads the bundle
// behind its own executable file, so a test that needs it copies a program,
// appends a bundle built with the portable writer, and runs that copy as a
// child process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bundle/format/bundle_writer.h"

namespace testing_support {

using Bytes = std::vector<uint8_t>;

// size bytes that compress the way programs and game data roughly do:
// stretches of repeated phrases between stretches of noise, different for
// every seed.
Bytes DemoContent(size_t size, uint32_t seed);

// The compressed block (fast level, default key) that decodes to data.
Bytes CompressedBlock(const Bytes& data);

// Contents of the ten entries of a demo-like bundle, in EntryTable row order:
// the five programs and the read-me as they are written (the bundle holds
// them as compressed blocks), the four data files as stored. Sizes are small
// enough for quick tests and large enough for several 4096-byte pieces.
struct DemoEntries {
  std::vector<std::string> names;
  std::vector<Bytes> contents;    // what each written file must hold
  std::vector<bool> compressed;   // stored as a compressed block
};
DemoEntries MakeDemoEntries();
// One MakeDemoEntries() result, made on first use and shared by a program's tests.
const DemoEntries& SharedDemoEntries();

// The bundle inputs for entries, skipping the rows in leaveOut.
std::vector<bundle::BundleInput> BundleInputsOf(const DemoEntries& entries,
                                                const std::vector<int>& leaveOut = {});

// The check record's items for entries: each name with its content's CRC-32.
std::vector<bundle::CheckItem> CheckItemsOf(const DemoEntries& entries);

// Copies program to copyPath and appends the bundle built from inputs, with
// a check record of checks when given. False when either file cannot be read
// or written.
bool WriteBundledCopy(const std::string& program, const std::string& copyPath,
                      const std::vector<bundle::BundleInput>& inputs,
                      const std::vector<bundle::CheckItem>* checks = nullptr);

// What a test host reported: its exit code and its report's text.
struct HostRun {
  long exitCode = -1;
  std::string report;
  // Why the host did not run (its copy, the bundle's append or its start
  // failed, with the error), also written to the standard error; empty when
  // it ran.
  std::string failure;
  // The report's lines, without their line ends.
  std::vector<std::string> ReportLines() const;
};

// Runs a bundled copy of hostProgram, made in folder (which ends with a
// backslash), as "<copy> <destination> <report> arguments" and waits for it.
HostRun RunBundledHost(const std::string& hostProgram, const std::string& folder,
                       const std::vector<bundle::BundleInput>& inputs, const std::string& destination,
                       const std::string& arguments, const std::vector<bundle::CheckItem>* checks = nullptr);

}  // namespace testing_support
