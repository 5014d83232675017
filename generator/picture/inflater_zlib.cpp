// The inflater on zlib (inflater.h), where ISA-L is not built: the Windows build, which links
// Debian's zlib for MinGW-w64 as the texture writers do.
#include <zlib.h>

#include <algorithm>
#include <new>

#include "inflater.h"

struct Inflater::State {
    z_stream stream{};
    bool started = false;
};

void Inflater::StateDeleter::operator()(State* state) const
{
    if (state->started)
        inflateEnd(&state->stream);
    delete state;
}

Inflater::Inflater() : state_(new (std::nothrow) State)
{
    if (state_ && inflateInit(&state_->stream) == Z_OK)
        state_->started = true;
    else
        state_.reset();
    reset();
}

Inflater::~Inflater() = default;

void Inflater::reset()
{
    nextIn = nullptr;
    availIn = 0;
    nextOut = nullptr;
    availOut = 0;
    ended_ = false;
    if (state_)
        inflateReset(&state_->stream);
}

Inflater::Result Inflater::run()
{
    if (!state_)
        return Result::kError;
    if (ended_)
        return Result::kEnd;
    z_stream& stream = state_->stream;
    stream.next_in = const_cast<Bytef*>(nextIn);
    stream.avail_in = availIn;
    stream.next_out = nextOut;
    stream.avail_out = availOut;
    const int status = inflate(&stream, Z_NO_FLUSH);
    nextIn = stream.next_in;
    availIn = stream.avail_in;
    nextOut = stream.next_out;
    availOut = stream.avail_out;
    // Z_BUF_ERROR is no error: nothing could be done without more input or more room.
    if (status == Z_STREAM_END) {
        ended_ = true;
        return Result::kEnd;
    }
    return status == Z_OK || status == Z_BUF_ERROR ? Result::kMore : Result::kError;
}

std::uint32_t crc32Update(std::uint32_t crc, const void* bytes, std::size_t count)
{
    const auto* from = static_cast<const Bytef*>(bytes);
    uLong value = crc;
    while (count > 0) {  // zlib takes lengths of 32 bits
        const std::size_t slice = std::min<std::size_t>(count, 1u << 30);
        value = crc32(value, from, static_cast<uInt>(slice));
        from += slice;
        count -= slice;
    }
    return static_cast<std::uint32_t>(value);
}
