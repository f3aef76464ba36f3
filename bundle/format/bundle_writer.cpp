#include "bundle/format/bundle_writer.h"

#include <cstring>
#include <stdexcept>

#include "bundle/format/bundle_layout.h"

namespace bundle {

namespace {

bool IsLeadByte(uint8_t c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsTrailByte(uint8_t c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// The device names Windows keeps in every folder: a file named so, in any
// case, with any extension and with blanks before it, cannot be created.
bool IsReservedDeviceName(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (stem == device) return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '0' &&
         stem[3] <= '9';
}

}  // namespace

const char* CheckEntryName(const std::string& name) {
  if (name.empty()) return "name is empty";
  if (name == CHECK_RECORD_NAME) return "name is reserved for the bundle's check record";
  if (name.size() > size_t(MAX_NAME_LENGTH - 1)) return "name is longer than 259 bytes";
  if (name == "." || name == "..") return "name is not a file name";
  for (size_t i = 0; i < name.size(); ++i) {
    const uint8_t c = uint8_t(name[i]);
    if (IsLeadByte(c)) {
      if (i + 1 >= name.size() || !IsTrailByte(uint8_t(name[i + 1]))) {
        return "name is not valid code page 932 text";
      }
      ++i;
      continue;
    }
    if (c == '\\' || c == '/') return "name contains a path separator";
    if (c < 0x20 || c == 0x7F) return "name contains a control character";
    if (std::strchr(":*?\"<>|", c) != nullptr) return "name contains a character Windows file names cannot hold";
  }
  const char last = name.back();
  if (last == '.' || last == ' ') return "name ends with a dot or a space";
  if (IsReservedDeviceName(name)) {
    return "name is a device name Windows reserves (CON, PRN, AUX, NUL, COM0-9, LPT0-9), which no file can have, "
           "whatever its extension";
  }
  return nullptr;
}

std::vector<uint8_t> StartMarkerBytes() {
  std::vector<uint8_t> bytes(4);
  StoreLe32(bytes.data(), uint32_t(START_MARKER));
  return bytes;
}

std::vector<uint8_t> RecordTrailerBytes(const std::string& name, uint32_t dataSize) {
  const uint32_t nameLength = uint32_t(name.size() + 1);
  std::vector<uint8_t> bytes(nameLength + RECORD_TRAILER_SIZE, 0);
  std::memcpy(bytes.data(), name.data(), name.size());
  StoreLe32(&bytes[nameLength], nameLength);
  StoreLe32(&bytes[nameLength + 4], dataSize);
  StoreLe32(&bytes[nameLength + 8], uint32_t(ENTRY_MARKER));
  return bytes;
}

namespace {

std::vector<uint8_t> Build(const std::vector<BundleInput>& inputs, const std::vector<CheckItem>* checks) {
  const std::vector<uint8_t> record = checks != nullptr ? BuildCheckRecord(*checks) : std::vector<uint8_t>();
  uint64_t total = 4 + (checks != nullptr ? RecordSize(CHECK_RECORD_NAME, record.size()) : 0);
  for (const BundleInput& input : inputs) {
    if (const char* problem = CheckEntryName(input.name)) {
      throw std::invalid_argument(std::string(problem) + ": \"" + input.name + "\"");
    }
    total += RecordSize(input.name, input.data.size());
  }
  if (total > MAX_FILE_SIZE) throw std::invalid_argument("bundle of 2 GiB or more");
  if (inputs.size() + (checks != nullptr ? 1 : 0) > size_t(MAX_ENTRY_COUNT)) {
    throw std::invalid_argument("more entries than a scan reads");
  }

  std::vector<uint8_t> bundle = StartMarkerBytes();
  bundle.reserve(size_t(total));
  for (const BundleInput& input : inputs) {
    bundle.insert(bundle.end(), input.data.begin(), input.data.end());
    const std::vector<uint8_t> trailer = RecordTrailerBytes(input.name, uint32_t(input.data.size()));
    bundle.insert(bundle.end(), trailer.begin(), trailer.end());
  }
  if (checks != nullptr) {
    bundle.insert(bundle.end(), record.begin(), record.end());
    const std::vector<uint8_t> trailer = RecordTrailerBytes(CHECK_RECORD_NAME, uint32_t(record.size()));
    bundle.insert(bundle.end(), trailer.begin(), trailer.end());
  }
  return bundle;
}

}  // namespace

std::vector<uint8_t> BuildBundle(const std::vector<BundleInput>& inputs) { return Build(inputs, nullptr); }

std::vector<uint8_t> BuildBundle(const std::vector<BundleInput>& inputs, const std::vector<CheckItem>& checks) {
  return Build(inputs, &checks);
}

}  // namespace bundle
