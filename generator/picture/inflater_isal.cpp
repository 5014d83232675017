// The inflater on ISA-L (inflater.h), where it is built.
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <new>

#include "inflater.h"

struct Inflater::State {
    inflate_state stream;
};

void Inflater::StateDeleter::operator()(State* state) const { delete state; }

Inflater::Inflater() : state_(new (std::nothrow) State) { reset(); }

Inflater::~Inflater() = default;

void Inflater::reset()
{
    nextIn = nullptr;
    availIn = 0;
    nextOut = nullptr;
    availOut = 0;
    ended_ = false;
    if (!state_)
        return;
    isal_inflate_init(&state_->stream);
    state_->stream.crc_flag = ISAL_ZLIB;  // the zlib wrapper, its Adler-32 checked
}

Inflater::Result Inflater::run()
{
    if (!state_)
        return Result::kError;
    if (ended_)
        return Result::kEnd;
    inflate_state& stream = state_->stream;
    stream.next_in = const_cast<std::uint8_t*>(nextIn);
    stream.avail_in = availIn;
    stream.next_out = nextOut;
    stream.avail_out = availOut;
    const int status = isal_inflate(&stream);
    nextIn = stream.next_in;
    availIn = stream.avail_in;
    nextOut = stream.next_out;
    availOut = stream.avail_out;
    if (status != ISAL_DECOMP_OK)
        return Result::kError;
    ended_ = stream.block_state == ISAL_BLOCK_FINISH;
    return ended_ ? Result::kEnd : Result::kMore;
}

std::uint32_t crc32Update(std::uint32_t crc, const void* bytes, std::size_t count)
{
    // ISA-L takes a length of 64 bits.
    return crc32_gzip_refl(crc, static_cast<const unsigned char*>(bytes), count);
}
