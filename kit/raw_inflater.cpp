#include "kit/raw_inflater.h"

#include <zlib.h>

#include <climits>
#include <cstring>

#ifdef SETUP_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include "kit/container_format.h"

namespace {

// Both engines count in 32 bits; larger pieces are handed over in several calls.
constexpr std::size_t kLargestPiece = UINT_MAX;

unsigned int PieceOf(std::size_t left) {
  return static_cast<unsigned int>(left < kLargestPiece ? left : kLargestPiece);
}

}  // namespace

struct RawInflater::ZlibState {
  z_stream stream = {};
  bool ready = false;
};

#ifdef SETUP_HAVE_ISAL
struct RawInflater::IsalState {
  struct inflate_state state;
};
#else
struct RawInflater::IsalState {};
#endif

RawInflater::Engine RawInflater::DefaultEngine() {
#ifdef SETUP_HAVE_ISAL
  return Engine::kIsal;
#else
  return Engine::kZlib;
#endif
}

RawInflater::RawInflater(Engine engine) : engine_(engine) {
  if (engine == Engine::kZlib) {
    zlib_.reset(new ZlibState);
    zlib_->ready = inflateInit2(&zlib_->stream, kRawDeflateWindowBits) == Z_OK;
    return;
  }
#ifdef SETUP_HAVE_ISAL
  isal_.reset(new IsalState);
  isal_inflate_init(&isal_->state);
  isal_->state.crc_flag = ISAL_DEFLATE;
#endif
}

RawInflater::~RawInflater() {
  if (zlib_ && zlib_->ready) inflateEnd(&zlib_->stream);
}

const char* RawInflater::FailureText() const {
  if (!Ready()) return "the inflater could not be set up";
  // zlib's messages are static texts.
  if (zlib_ && zlib_->stream.msg != nullptr) return zlib_->stream.msg;
  return "invalid compressed data";
}

std::size_t RawInflater::BytesTakenPastEnd() const {
#ifdef SETUP_HAVE_ISAL
  if (isal_ && last_ == Status::kEnded) {
    return static_cast<std::size_t>(isal_->state.read_in_length / 8) +
           static_cast<std::size_t>(isal_->state.tmp_in_size);
  }
#endif
  return 0;
}

bool RawInflater::Ready() const { return (zlib_ && zlib_->ready) || isal_ != nullptr; }

RawInflater::Status RawInflater::Inflate(const unsigned char** input, std::size_t* input_left,
                                         unsigned char** output, std::size_t* output_left) {
  if (last_ != Status::kMore) return last_;
  if (!Ready()) return last_ = Status::kFailed;
  const unsigned int in_piece = PieceOf(*input_left);
  const unsigned int out_piece = PieceOf(*output_left);
  unsigned int in_after = in_piece;
  unsigned int out_after = out_piece;
  if (zlib_) {
    z_stream& stream = zlib_->stream;
    stream.next_in = const_cast<Bytef*>(*input);
    stream.avail_in = in_piece;
    stream.next_out = *output;
    stream.avail_out = out_piece;
    engine_status_ = inflate(&stream, Z_NO_FLUSH);
    in_after = stream.avail_in;
    out_after = stream.avail_out;
    if (engine_status_ == Z_STREAM_END) {
      last_ = Status::kEnded;
    } else if (engine_status_ == Z_OK || (engine_status_ == Z_BUF_ERROR && in_after == 0)) {
      // A buffer shortage with no input left only asks for more input.
      last_ = Status::kMore;
    } else {
      last_ = Status::kFailed;
    }
  }
#ifdef SETUP_HAVE_ISAL
  if (isal_) {
    struct inflate_state& state = isal_->state;
    state.next_in = const_cast<uint8_t*>(*input);
    state.avail_in = in_piece;
    state.next_out = *output;
    state.avail_out = out_piece;
    engine_status_ = isal_inflate(&state);
    in_after = state.avail_in;
    out_after = state.avail_out;
    if (engine_status_ < 0) {
      last_ = Status::kFailed;
    } else if (state.block_state == ISAL_BLOCK_FINISH) {
      last_ = Status::kEnded;
    } else {
      last_ = Status::kMore;
    }
  }
#endif
  *input += in_piece - in_after;
  *input_left -= in_piece - in_after;
  *output += out_piece - out_after;
  *output_left -= out_piece - out_after;
  return last_;
}
