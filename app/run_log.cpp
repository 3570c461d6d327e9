#include "app/run_log.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "text/locale_conversions.h"

namespace {

void AppendUtf8(std::string* out, uint32_t code_point) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

void AppendEscape(std::string* out, uint32_t unit) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
  out->append(escape);
}

void AppendJsonString(std::string* out, const WideString& text) {
  out->push_back('"');
  const std::size_t length = text.Length();
  for (std::size_t i = 0; i < length; ++i) {
    const uint32_t unit = text[i];
    if (unit == '"' || unit == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(unit));
    } else if (unit < 0x20 || unit == 0x7F) {
      AppendEscape(out, unit);
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendEscape(out, unit);
    } else {
      AppendUtf8(out, unit);
    }
  }
  out->push_back('"');
}

std::string UtcNow() {
  const time_t now = time(nullptr);
  struct tm parts;
  char text[32] = "";
  if (gmtime_r(&now, &parts) != nullptr) strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace

RunLog::Record::Record(const char* event) {
  body_ = "{\"time\":\"" + UtcNow() + "\",\"event\":";
  AppendJsonString(&body_, FromLocaleBytes(NarrowString(event)));
}

void RunLog::Record::Key(const char* key) {
  body_.append(",\"");
  body_.append(key);
  body_.append("\":");
}

RunLog::Record& RunLog::Record::Text(const char* key, const WideString& value) {
  Key(key);
  AppendJsonString(&body_, value);
  return *this;
}

RunLog::Record& RunLog::Record::Bytes(const char* key, const NarrowString& value) {
  return Text(key, FromLocaleBytes(value));
}

RunLog::Record& RunLog::Record::Number(const char* key, int64_t value) {
  Key(key);
  body_.append(std::to_string(value));
  return *this;
}

RunLog::Record& RunLog::Record::Flag(const char* key, bool value) {
  Key(key);
  body_.append(value ? "true" : "false");
  return *this;
}

RunLog::Record& RunLog::Record::Cause(const Status& cause) {
  if (!cause.path().Empty()) Bytes("path", cause.path());
  const NarrowString reason = cause.Reason();
  if (!reason.Empty()) Bytes("reason", reason);
  const NarrowString name = cause.ErrnoName();
  if (!name.Empty()) {
    Bytes("errno", name);
    Number("errno_number", cause.system_error());
  }
  return Number("code", static_cast<int64_t>(cause.code()));
}

std::string RunLog::Record::Line() const { return body_ + "}\n"; }

RunLog::~RunLog() {
  if (descriptor_ >= 0) close(descriptor_);
}

Status RunLog::Open(const NarrowString& path) {
  // Non-blocking, so that a FIFO at the path cannot hold the open; it is refused below.
  const int descriptor = open(path.CStr(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC |
                                               O_NONBLOCK | O_NOCTTY, 0600);
  if (descriptor < 0) return Status::FromErrno(errno, path);
  struct stat status;
  if (fstat(descriptor, &status) != 0) {
    const Status failure = Status::FromErrno(errno, path);
    close(descriptor);
    return failure;
  }
  if (!S_ISREG(status.st_mode)) {
    close(descriptor);
    return Status::Failure(kErrorInvalidParameter, path, NarrowString("not a regular file"));
  }
  descriptor_ = descriptor;
  path_ = path;
  return Status();
}

void RunLog::Write(const Record& record) {
  if (descriptor_ < 0) return;
  const std::string line = record.Line();
  ssize_t written;
  do {
    written = write(descriptor_, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(line.size())) return;
  int expected = 0;
  // A short write leaves no errno; it is reported as a full disk, its usual cause.
  write_error_.compare_exchange_strong(expected, written < 0 ? errno : ENOSPC);
}

Status RunLog::WriteFailure() const {
  const int error_number = write_error_.load();
  return error_number == 0 ? Status() : Status::FromErrno(error_number, path_);
}
