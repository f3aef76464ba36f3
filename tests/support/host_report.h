// The report a test host writes for the test that started it: one line an
// event, flushed at once, written from either of the host's threads.
#pragma once

namespace testing_support {

// Creates the report file; false when it cannot be created.
bool OpenHostReport(const char* path);
// Appends one line, formatted as printf does.
void Note(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CloseHostReport();

}  // namespace testing_support
