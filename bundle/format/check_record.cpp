#include "bundle/format/check_record.h"

#include <algorithm>
#include <cstring>

#include "bundle/format/crc32.h"

namespace bundle {

namespace {

void AppendLe32(std::vector<uint8_t>& bytes, uint32_t value) {
  bytes.resize(bytes.size() + 4);
  StoreLe32(&bytes[bytes.size() - 4], value);
}

CheckRecord Damaged(const char* reason) {
  CheckRecord record;
  record.reason = reason;
  return record;
}

}  // namespace

std::vector<uint8_t> BuildCheckRecord(const std::vector<CheckItem>& items) {
  std::vector<uint8_t> bytes;
  AppendLe32(bytes, CHECK_RECORD_VERSION);
  AppendLe32(bytes, uint32_t(items.size()));
  for (const CheckItem& item : items) {
    AppendLe32(bytes, uint32_t(item.name.size() + 1));
    bytes.insert(bytes.end(), item.name.begin(), item.name.end());
    bytes.push_back(0);
    AppendLe32(bytes, item.crc);
  }
  AppendLe32(bytes, Crc32(bytes.data(), bytes.size()));
  return bytes;
}

CheckRecord ParseCheckRecord(const uint8_t* data, size_t size) {
  if (size < 12) return Damaged("check record is shorter than its header");
  if (size > MAX_CHECK_RECORD_SIZE) return Damaged("check record is longer than any this reader takes");
  const size_t body = size - 4;
  if (Crc32(data, body) != LoadLe32(data + body)) return Damaged("check record fails its own CRC");
  CheckRecord record;
  if (LoadLe32(data) != CHECK_RECORD_VERSION) {
    record.status = CheckRecordStatus::OtherVersion;
    return record;
  }
  const uint32_t count = LoadLe32(data + 4);
  // Every item takes 9 bytes at least, which bounds count before anything
  // is reserved for it.
  if (count > uint32_t(MAX_ENTRY_COUNT) || count > (body - 8) / 9) {
    return Damaged("check record counts more items than it holds");
  }
  record.items.reserve(count);
  size_t at = 8;
  for (uint32_t i = 0; i < count; ++i) {
    if (body - at < 4) return Damaged("check record ends inside an item");
    const uint32_t length = LoadLe32(data + at);
    at += 4;
    if (length < 1 || length > uint32_t(MAX_NAME_LENGTH)) {
      return Damaged("check record holds a name length out of range");
    }
    if (body - at < size_t(length) + 4) return Damaged("check record ends inside an item");
    const char* name = reinterpret_cast<const char*>(data + at);
    if (std::find(name, name + length, '\0') != name + length - 1) {
      return Damaged("check record holds a name that is not NUL-terminated once");
    }
    record.items.push_back({name, LoadLe32(data + at + length)});
    at += length + 4;
  }
  if (at != body) return Damaged("check record holds bytes after its items");

  // Sorted by name: duplicates then sit side by side, and readers search it.
  std::sort(record.items.begin(), record.items.end(),
            [](const CheckedName& a, const CheckedName& b) { return std::strcmp(a.name, b.name) < 0; });
  for (size_t i = 1; i < record.items.size(); ++i) {
    if (std::strcmp(record.items[i - 1].name, record.items[i].name) == 0) {
      return Damaged("check record names an entry twice");
    }
  }
  record.status = CheckRecordStatus::Ok;
  return record;
}

}  // namespace bundle
