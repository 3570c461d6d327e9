// RawInflater: inflates one raw DEFLATE stream (RFC 1951, without a zlib or gzip wrapper),
// piece by piece, with one of two engines behind the same interface:
//
//   kZlib  zlib's inflate: every build has it (the kit writer uses zlib too).
//   kIsal  ISA-L's igzip inflate: several times faster on x86-64, built in where the library
//          was found (SETUP_HAVE_ISAL); DefaultEngine then picks it.
//
// Each call gives output, then either the end of the stream, a need for more input (a
// stream cut short is no error here: what is missing shows when the container is read), or
// invalid data. Bytes after the end of the stream are ignored. Where both engines end a
// stream, they give the same bytes (a differential test and a fuzz target hold them to
// that). On damaged streams they differ: ISA-L may notice damage later than zlib or only
// ask for more input where zlib already fails, so the kit's inflation lets zlib judge every
// stream that ISA-L does not end (kit/inflate_kit.cpp); and ISA-L decodes some dynamic
// blocks whose code lengths zlib rejects as an invalid set, which no deflater writes.

#ifndef KIT_RAW_INFLATER_H_
#define KIT_RAW_INFLATER_H_

#include <cstddef>
#include <memory>

class RawInflater {
 public:
  enum class Engine { kZlib, kIsal };
  enum class Status {
    kMore,    // all input taken or all output space used: call again with more of either
    kEnded,   // the stream's final block is done; nothing more comes
    kFailed,  // the input is not valid DEFLATE data
  };

  // The faster engine this build has (ISA-L where the build has it, else zlib).
  static Engine DefaultEngine();

  explicit RawInflater(Engine engine = DefaultEngine());
  ~RawInflater();
  RawInflater(const RawInflater&) = delete;
  RawInflater& operator=(const RawInflater&) = delete;

  // False when the engine could not be set up (no memory, or an engine this build lacks);
  // Inflate then fails.
  bool Ready() const;
  Engine engine() const { return engine_; }

  // Inflates from [*input, *input + *input_left) into [*output, *output + *output_left),
  // moving both pointers and counts past what was used. Once kEnded or kFailed is
  // returned, every further call returns the same.
  Status Inflate(const unsigned char** input, std::size_t* input_left, unsigned char** output,
                 std::size_t* output_left);

  // The engine's own status code of the last call.
  int EngineStatus() const { return engine_status_; }
  // What the engine says is wrong with the data after kFailed, for people (zlib's message,
  // such as "invalid stored block lengths"); a static text, never null.
  const char* FailureText() const;

  // Once kEnded: how many of the bytes reported as taken lie after the stream's end. zlib
  // takes exactly the stream (0); ISA-L reads ahead into its bit buffer and, near the end of
  // its input, into a buffer of its own, so the end of the stream lies that many bytes
  // before the end of what it took (possibly in an earlier piece of input).
  std::size_t BytesTakenPastEnd() const;

 private:
  struct ZlibState;
  struct IsalState;

  Engine engine_;
  std::unique_ptr<ZlibState> zlib_;
  std::unique_ptr<IsalState> isal_;
  Status last_ = Status::kMore;
  int engine_status_ = 0;
};

#endif  // KIT_RAW_INFLATER_H_
