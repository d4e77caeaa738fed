#include "driver/file_stream.h"

#include <stdexcept>

#include "driver/stream_pump.h"
#include "support/fs/streamed_file.h"

namespace Velk {
namespace {

class CFileSource : public TByteSource {
 public:
  explicit CFileSource(CStreamedFile& file) : file_(file) {}
  // Where a block is read; the first block of a file is read before anything
  // is written, so a check of the file's kind belongs here.
  std::size_t Read(char* dest, std::size_t room) override {
    try {
      return file_.Read(dest, room);
    } catch (...) {
      failed = true;
      throw;
    }
  }
  bool failed = false;

 private:
  CStreamedFile& file_;
};

// Writes nothing until the first change; then the unchanged start is copied
// and every later piece written.
class CFileSink : public TStreamSink {
 public:
  explicit CFileSink(CStreamedFile& file) : file_(file) {}
  void Piece(const narrow_buffer& out, std::uint64_t input_start, std::size_t,
             bool changed) override {
    if (!file_.Rewriting()) {
      if (!changed) return;
      file_.BeginRewrite(input_start);
    }
    file_.Write(out.c_str(), out.length());
  }

 private:
  CStreamedFile& file_;
};

}  // namespace

bool StreamsFiles(const RUN_SETTINGS& settings, const Matcher& matcher) {
  return !settings.stdout_mode && !settings.diff_mode && CStreamedFile::IsSupported() &&
         stream_replacer::can_stream(settings.method, matcher);
}

bool StreamFile(const RUN_SETTINGS& settings, const Matcher& matcher, const CFileMode& files,
                std::size_t i, std::uint64_t& count, narrow_buffer& messages) {
  count = 0;
  CStreamedFile file;
  try {
    file.Open(files.GetFiles()[i]);
  } catch (...) {
    files.AppendReadFailure(i, messages);
    return false;
  }
  stream_replacer replacer(settings.method, settings.find_text, settings.replacement, matcher);
  CFileSource source(file);
  CFileSink sink(file);
  try {
    PumpStream(replacer, source, sink);
    if (file.Rewriting()) file.FinishRewrite(false);
  } catch (const byExp& error) {
    if (source.failed)
      files.AppendReadFailure(i, messages);
    else
      files.AppendWriteFailure(i, error, messages);
    return false;
  } catch (const std::length_error&) {
    files.AppendReadFailure(i, messages);  // a line too long to search
    return false;
  }
  count = replacer.count();
  return true;
}

}  // namespace Velk
