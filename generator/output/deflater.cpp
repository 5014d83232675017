// The writers' zlib stream, appending its output to a byte vector.
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "encoder_parts.h"

namespace output {

namespace {

// Room offered to each call of deflate: the vector is grown by this much (and cut back to
// what was written), which keeps the zero-filling of each growth small.
constexpr std::size_t kOutputStep = 256 * 1024;
// zlib counts its input in unsigned int.
constexpr std::size_t kLargestInput = 1u << 30;

}  // namespace

Deflater::Deflater(int level, int strategy) : stream_(new z_stream())
{
    auto* z = static_cast<z_stream*>(stream_);
    ready_ = deflateInit2(z, level, Z_DEFLATED, 15, 8, strategy) == Z_OK;
}

Deflater::~Deflater()
{
    auto* z = static_cast<z_stream*>(stream_);
    if (ready_)
        deflateEnd(z);
    delete z;
}

void Deflater::run(const void* bytes, std::size_t count, bool finish, Bytes& out)
{
    if (!ready_)
        return;
    auto* z = static_cast<z_stream*>(stream_);
    const auto* next = static_cast<const unsigned char*>(bytes);
    for (;;) {
        const std::size_t slice = std::min(count, kLargestInput);
        const bool last = slice == count;
        const int flush = finish && last ? Z_FINISH : Z_NO_FLUSH;
        // zlib takes its input through a pointer to non-const, and only reads it.
        z->next_in = const_cast<unsigned char*>(next);
        z->avail_in = static_cast<uInt>(slice);
        int status = Z_OK;
        do {
            const std::size_t start = out.size();
            out.resize(start + kOutputStep);
            z->next_out = out.data() + start;
            z->avail_out = static_cast<uInt>(kOutputStep);
            status = deflate(z, flush);
            out.resize(start + kOutputStep - z->avail_out);
            if (status == Z_STREAM_ERROR) {  // only a stream in a state zlib never leaves
                ready_ = false;
                return;
            }
        } while (z->avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
        next += slice;
        count -= slice;
        if (last)
            break;
    }
    if (finish)
        deflateReset(z);
}

void shareWork(std::size_t count, unsigned threads, const std::function<void(std::size_t, unsigned)>& work)
{
    std::atomic<std::size_t> next{0};
    std::atomic<bool> shortOfMemory{false};
    const auto run = [&](unsigned thread) {
        try {
            for (std::size_t k = next++; k < count && !shortOfMemory; k = next++)
                work(k, thread);
        } catch (const std::bad_alloc&) {
            shortOfMemory = true;
        }
    };
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> helpers;
    try {
        for (unsigned t = 1; t < std::min<std::size_t>(threads, count); ++t)
            helpers.emplace_back(run, t);
    } catch (const std::system_error&) {  // no more threads: the ones there are do the work
    }
    run(0);
    for (std::thread& helper : helpers)
        helper.join();
    if (shortOfMemory)
        throw std::bad_alloc();
}

bool makePieces(std::size_t count, int level, int strategy, unsigned threads,
                const std::function<void(std::size_t, Deflater&, Bytes&)>& make, std::vector<Bytes>& pieces)
{
    pieces.assign(count, Bytes());
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    // A deflater a thread, made when the thread takes its first piece.
    std::vector<std::unique_ptr<Deflater>> deflaters(threads);
    std::atomic<bool> failed{false};
    shareWork(count, threads, [&](std::size_t k, unsigned thread) {
        if (failed)
            return;
        if (!deflaters[thread])
            deflaters[thread] = std::make_unique<Deflater>(level, strategy);
        make(k, *deflaters[thread], pieces[k]);
        if (!deflaters[thread]->ok())
            failed = true;
    });
    return !failed;
}

std::uint32_t crc32Of(const unsigned char* bytes, std::size_t count, std::uint32_t crc)
{
    uLong value = crc;
    while (count > 0) {
        const std::size_t slice = std::min(count, kLargestInput);
        value = crc32(value, bytes, static_cast<uInt>(slice));
        bytes += slice;
        count -= slice;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace output
