#include "install/install_test_support.h"

#include <unistd.h>

#include "fs/beneath.h"

#include <stdexcept>

#include "app/string_table.h"

PostRecorder::PostRecorder(ProgressChannel* channel, ProgressObserver also, void* also_context)
    : channel_(channel), also_(also), also_context_(also_context) {
  channel_->SetObserver(&PostRecorder::Observe, this);
}

PostRecorder::~PostRecorder() { channel_->SetObserver(nullptr, nullptr); }

void PostRecorder::Observe(void* context, int32_t code, const WideString& message,
                           int32_t percent) {
  PostRecorder* recorder = static_cast<PostRecorder*>(context);
  {
    std::lock_guard<std::mutex> hold(recorder->mutex_);
    ProgressReport report;
    report.code = code;
    report.message = message;
    report.percent = percent;
    recorder->reports_.push_back(report);
  }
  if (recorder->also_ != nullptr) recorder->also_(recorder->also_context_, code, message, percent);
}

std::vector<ProgressReport> PostRecorder::Reports() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return reports_;
}

std::size_t PostRecorder::CountWithPercent(int32_t percent) const {
  std::lock_guard<std::mutex> hold(mutex_);
  std::size_t count = 0;
  for (const ProgressReport& report : reports_) count += report.percent == percent ? 1 : 0;
  return count;
}

// A stand-in that logs its call and then runs the real program.
static std::string LoggingBody(const std::string& name, const std::string& log_path) {
  return "printf '%s\\n' \"" + name + " $*\" >> '" + log_path + "'\nexec " +
         StandInCommands::RealProgram(name) + " \"$@\"";
}

ShellCommandLog::ShellCommandLog(const std::string& directory)
    : log_path_(directory + "/shell.log"), stand_ins_(directory + "/stand-ins") {
  for (const char* name : {"mkdir", "mv", "rm"}) stand_ins_.Add(name, LoggingBody(name, log_path_));
  if (!WriteWholeFile(log_path_, "")) throw std::runtime_error("cannot empty " + log_path_);
}

std::vector<std::string> ShellCommandLog::Lines() const {
  std::vector<std::string> lines;
  const std::string log = ReadWholeFile(log_path_);
  for (std::size_t start = 0, end; start < log.size(); start = end + 1) {
    end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    lines.push_back(log.substr(start, end - start));
  }
  return lines;
}



RootDescriptor::RootDescriptor(const std::string& directory)
    : descriptor_(OpenRootDirectory(directory.c_str())) {}

RootDescriptor::~RootDescriptor() {
  if (descriptor_ >= 0) close(descriptor_);
}
