// The sweep: blocks sorted by the last map row they read, rendered by workers as the rows
// come; a reader thread fills the window and slides it when it is full; the calling thread
// hands finished pieces out.
#include "render_sweep.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "decoded_picture.h"
#include "geometry.h"
#include "icosa_diamonds.h"
#include "image_object.h"
#include "large_buffer.h"
#include "map_rows.h"
#include "spherical_lookup.h"

namespace {

// Blocks of texels rendered at a time: small enough that a block reads few map rows (a
// degree of latitude or so at N = 4096, a thirty-second of a diamond's height below
// N = 2048), large enough that its set-up is nothing.
constexpr std::uint32_t blockSide(std::uint32_t faceSize)
{
    return std::clamp(faceSize / 32, 16u, 64u);
}
// The grid of footprint corners whose map rows bound a block's, every so many texels.
constexpr std::uint32_t kGridStep = 16;
// Rows read beyond the corners' rows: the area filter's window of cells reaches 8 rows
// down from a footprint's top, bilinear one row, and roundings one more.
constexpr std::uint32_t kRowReach = 8 + 2;
// Texels this near the pole (|r| + |c|) read every row to the pole: their footprints are
// sampled exactly and span the map's width.
constexpr std::int32_t kPoleReach = 8;
// Rows a reader hands over at a time.
constexpr std::uint32_t kReadRows = 32;

double rowOfCorner(const DiamondPlanes& planes, const PictureScales& scales, double u, double v)
{
    const Vector3 q = diamondPoint(planes, u, v);
    float longitude = 0.0f, latitude = 0.0f;
    directionToAngles(q.x, q.y, q.z, longitude, latitude);
    return pictureRow(scales, latitude);
}

}  // namespace

std::vector<SweepBlock> sweepBlocks(const std::vector<SweepPiece>& pieces, std::uint32_t mapHeight)
{
    std::vector<SweepBlock> blocks;
    const PictureScales& scales = runState.source.scales;
    const double lastRow = mapHeight == 0 ? 0.0 : mapHeight - 1.0;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const SweepPiece& piece = pieces[p];
        const TexelRegion& region = piece.region;
        const DiamondPlanes planes = diamondPlanes(diamondCorners(piece.diamond));
        const bool southern = isSouthernDiamond(piece.diamond);
        const double inverse = 1.0 / piece.faceSize;
        // The corners' rows on the grid: corner (r − ½, c − ½) of texel (r, c), every
        // kGridStep texels and at the region's far edges.
        const auto gridLines = [](std::int32_t first, std::uint32_t count) {
            std::vector<std::int32_t> lines;
            for (std::uint32_t at = 0; at < count; at += kGridStep)
                lines.push_back(first + static_cast<std::int32_t>(at));
            lines.push_back(first + static_cast<std::int32_t>(count));
            return lines;
        };
        const std::vector<std::int32_t> gridRows = gridLines(region.firstRow, region.rows);
        const std::vector<std::int32_t> gridColumns = gridLines(region.firstColumn, region.columns);
        std::vector<double> rows(gridRows.size() * gridColumns.size());
        double step = 0;  // the most rows between neighbouring grid corners
        for (std::size_t i = 0; i < gridRows.size(); ++i)
            for (std::size_t j = 0; j < gridColumns.size(); ++j) {
                double& y = rows[i * gridColumns.size() + j];
                y = rowOfCorner(planes, scales, (gridColumns[j] - 0.5) * inverse, (gridRows[i] - 0.5) * inverse);
                if (i > 0)
                    step = std::max(step, std::abs(y - rows[(i - 1) * gridColumns.size() + j]));
                if (j > 0)
                    step = std::max(step, std::abs(y - rows[i * gridColumns.size() + j - 1]));
            }
        const double margin = step + kRowReach;
        const std::uint32_t side = blockSide(piece.faceSize);
        for (std::uint32_t r0 = 0; r0 < region.rows; r0 += side)
            for (std::uint32_t c0 = 0; c0 < region.columns; c0 += side) {
                SweepBlock block;
                block.piece = p;
                block.region = {region.firstRow + static_cast<std::int32_t>(r0),
                                region.firstColumn + static_cast<std::int32_t>(c0),
                                std::min(side, region.rows - r0), std::min(side, region.columns - c0)};
                double low = 1e300, high = -1e300;
                const std::size_t i0 = r0 / kGridStep, i1 = std::min<std::size_t>(
                                                             (r0 + block.region.rows + kGridStep - 1) / kGridStep,
                                                             gridRows.size() - 1);
                const std::size_t j0 = c0 / kGridStep, j1 = std::min<std::size_t>(
                                                             (c0 + block.region.columns + kGridStep - 1) / kGridStep,
                                                             gridColumns.size() - 1);
                for (std::size_t i = i0; i <= i1; ++i)
                    for (std::size_t j = j0; j <= j1; ++j) {
                        const double y = rows[i * gridColumns.size() + j];
                        low = std::min(low, y);
                        high = std::max(high, y);
                    }
                // A block near the pole reads every row to it.
                const auto nearest = [](std::int32_t first, std::uint32_t count) {
                    const std::int32_t last = first + static_cast<std::int32_t>(count) - 1;
                    return first > 0 ? first : (last < 0 ? -last : 0);
                };
                const bool pole = nearest(block.region.firstRow, block.region.rows) +
                                      nearest(block.region.firstColumn, block.region.columns) <=
                                  kPoleReach;
                low = pole && !southern ? 0.0 : low - margin;
                high = pole && southern ? lastRow : high + margin;
                block.firstRow = static_cast<std::uint32_t>(std::clamp(std::floor(low), 0.0, lastRow));
                block.lastRow = static_cast<std::uint32_t>(std::clamp(std::ceil(high), 0.0, lastRow));
                blocks.push_back(block);
            }
    }
    return blocks;
}

void orderDownTheMap(std::vector<SweepBlock>& blocks)
{
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const SweepBlock& a, const SweepBlock& b) { return a.lastRow < b.lastRow; });
}

std::uint32_t sweepWindowRows(const std::vector<SweepBlock>& orderedBlocks)
{
    std::uint32_t rows = 0;
    std::uint32_t firstLater = UINT32_MAX;  // the first row read by this block or any after it
    for (std::size_t b = orderedBlocks.size(); b-- > 0;) {
        firstLater = std::min(firstLater, orderedBlocks[b].firstRow);
        rows = std::max(rows, orderedBlocks[b].lastRow - firstLater + 1);
    }
    return rows;
}

std::uint64_t sweepTexelBytes(const std::vector<SweepPiece>& pieces, const std::vector<SweepBlock>& orderedBlocks,
                              const SweepSettings& settings, bool streamed)
{
    const auto bytesOf = [&](std::size_t p) {
        return settings.headerBytes + std::uint64_t{pieces[p].region.rows} * pieces[p].region.columns * settings.texelBytes;
    };
    // Per buffer size, the most pieces of that size open at once.
    std::map<std::uint64_t, std::uint64_t> open, most;
    if (!streamed) {
        for (std::size_t p = 0; p < pieces.size(); ++p)
            most[bytesOf(p)] = 1;
    } else {
        std::vector<std::size_t> lastBlock(pieces.size(), 0), blocksSeen(pieces.size(), 0);
        for (std::size_t b = 0; b < orderedBlocks.size(); ++b)
            lastBlock[orderedBlocks[b].piece] = b;
        for (std::size_t b = 0; b < orderedBlocks.size(); ++b) {
            const std::size_t p = orderedBlocks[b].piece;
            if (blocksSeen[p]++ == 0) {
                std::uint64_t& count = open[bytesOf(p)];
                most[bytesOf(p)] = std::max(most[bytesOf(p)], ++count);
            }
            if (lastBlock[p] == b && !settings.holdUntilRead)
                --open[bytesOf(p)];
        }
    }
    std::uint64_t bytes = 0;
    for (const auto& size : most)
        bytes += size.first * size.second;
    return bytes;
}

namespace {

// The state the threads share, under one lock.
class Sweep {
public:
    Sweep(const std::vector<SweepPiece>& pieces, const SweepSource& source, const SweepSettings& settings)
        : pieces_(pieces), source_(source), settings_(settings), blocks_(sweepBlocks(pieces, source.height)),
          texels_(pieces.size()), blocksLeft_(pieces.size(), 0)
    {
        if (source.reader != nullptr)
            orderDownTheMap(blocks_);
        else
            mostPiecesOpen_ = 1;
        for (const SweepBlock& block : blocks_) {
            ++blocksLeft_[block.piece];
            total_ += std::uint64_t{block.region.rows} * block.region.columns;
        }
        // One prepared diamond a diamond and face size, at that face size.
        const std::uint32_t runSize = runState.rows;
        for (std::size_t p = 0; p < pieces.size(); ++p) {
            const auto key = std::make_pair(pieces[p].diamond, pieces[p].faceSize);
            if (prepared_.count(key) == 0) {
                runState.rows = runState.columns = pieces[p].faceSize;
                const int k = pieces[p].diamond;
                prepared_[key] = std::make_unique<PreparedDiamond>(kIcosaDiamonds[k], isSouthernDiamond(k) ? 1 : 0);
            }
            diamondOf_.push_back(prepared_[key].get());
        }
        runState.rows = runState.columns = runSize;
    }

    int run(bool inOrder, const std::function<bool(std::size_t, unsigned char*)>& deliver)
    {
        if (source_.reader == nullptr) {
            rowsHeld_ = source_.height;
            readAll_ = true;
            pointDiamondsAt(source_.whole);
        } else if (!openWindow()) {
            throw std::bad_alloc();
        }
        if (settings_.progress)
            settings_.progress(0, total_);
        unsigned threads = settings_.threads == 0 ? std::thread::hardware_concurrency() : settings_.threads;
        threads = std::max(1u, threads);
        std::vector<std::thread> workers;
        try {
            if (source_.reader != nullptr)
                workers.emplace_back([this] { readRows(); });
            for (unsigned t = 0; t < threads; ++t)
                workers.emplace_back([this] { render(); });
        } catch (const std::system_error&) {
            if (workers.size() < (source_.reader != nullptr ? 2u : 1u)) {  // no reader or no renderer
                stop(-1);
                for (std::thread& worker : workers)
                    worker.join();
                throw std::bad_alloc();
            }
        }
        const int result = handOut(inOrder, deliver);
        for (std::thread& worker : workers)
            worker.join();
        return result;
    }

private:
    bool openWindow()
    {
        const MapRows& reader = *source_.reader;
        rowBytes_ = image_backend::paddedRowStride(reader.width(), pixelBytes(reader.layout())) *
                    pixelBytes(reader.layout());
        window_ = makeLargeBuffer<unsigned char>(std::size_t{source_.windowRows} * rowBytes_);
        return static_cast<bool>(window_);
    }

    // The window's rows from `first` on, to every prepared diamond.
    void pointDiamondsAt(const MapRowsInMemory& rows)
    {
        for (auto& entry : prepared_)
            entry.second->readRowsFrom(rows);
    }
    MapRowsInMemory windowRows() const
    {
        // Row r at base + r × rowBytes for the rows held: base placed first × rowBytes before
        // the window (an address computed, never read below the first row).
        const auto base = reinterpret_cast<std::uintptr_t>(window_.get()) - std::uintptr_t{windowFirst_} * rowBytes_;
        return {reinterpret_cast<const unsigned char*>(base), rowBytes_, source_.reader->layout(), windowFirst_};
    }

    // The reader's thread: bands of rows into the window, which slides down when full.
    void readRows()
    {
        MapRows& reader = *source_.reader;
        std::unique_lock<std::mutex> lock(mutex_);
        pointDiamondsAt(windowRows());
        while (rowsHeld_ < source_.height && status_ == 0) {
            if (rowsHeld_ - windowFirst_ == source_.windowRows && !slide(lock))
                return;
            const std::uint32_t count = std::min({kReadRows, source_.height - rowsHeld_,
                                                  source_.windowRows - (rowsHeld_ - windowFirst_)});
            unsigned char* into = window_.get() + std::size_t{rowsHeld_ - windowFirst_} * rowBytes_;
            lock.unlock();  // the rows past those held are the reader's alone
            const int status = reader.readRows(count, into, rowBytes_);
            lock.lock();
            if (status != imaging_status::kOk) {
                stopLocked(status);
                return;
            }
            rowsHeld_ += count;
            changed_.notify_all();
        }
        readAll_ = true;
        changed_.notify_all();
    }

    // Waits for the blocks in hand to finish, drops the rows below the first row any block
    // still to come reads, and moves the rest to the window's start. False if stopped.
    bool slide(std::unique_lock<std::mutex>& lock)
    {
        // Every block the rows held allow goes first: the rows it reads may be the first held.
        changed_.wait(lock, [&] {
            return status_ != 0 ||
                   (inHand_ == 0 && (next_ == blocks_.size() || blocks_[next_].lastRow >= rowsHeld_));
        });
        if (status_ != 0)
            return false;
        std::uint32_t keep = rowsHeld_;
        for (std::size_t b = next_; b < blocks_.size(); ++b)
            keep = std::min(keep, blocks_[b].firstRow);
        if (keep <= windowFirst_) {  // no block can go on: the window is too small (never, by its size)
            stopLocked(imaging_status::kOutOfMemory);
            return false;
        }
        std::memmove(window_.get(), window_.get() + std::size_t{keep - windowFirst_} * rowBytes_,
                     std::size_t{rowsHeld_ - keep} * rowBytes_);
        windowFirst_ = keep;
        pointDiamondsAt(windowRows());
        changed_.notify_all();
        return true;
    }

    // A worker: the next block whose rows are held, rendered into its piece.
    void render()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            // A block of a piece not yet begun waits while the pieces in hand are at their most.
            changed_.wait(lock, [&] {
                return status_ != 0 || next_ == blocks_.size() ||
                       (blocks_[next_].lastRow < rowsHeld_ &&
                        (texels_[blocks_[next_].piece] != nullptr || piecesOpen_ < mostPiecesOpen_));
            });
            if (status_ != 0 || next_ == blocks_.size())
                return;
            const SweepBlock& block = blocks_[next_++];
            unsigned char*& texels = texels_[block.piece];
            if (!texels) {
                texels = takeBuffer(pieceBytes(block.piece));
                if (texels == nullptr) {
                    stopLocked(imaging_status::kOutOfMemory);
                    return;
                }
                ++piecesOpen_;
            }
            ++inHand_;
            lock.unlock();
            const SweepPiece& piece = pieces_[block.piece];
            const std::size_t rowBytes = std::size_t{piece.region.columns} * settings_.texelBytes;
            unsigned char* at = texels + settings_.headerBytes +
                                std::size_t(block.region.firstRow - piece.region.firstRow) * rowBytes +
                                std::size_t(block.region.firstColumn - piece.region.firstColumn) * settings_.texelBytes;
            diamondOf_[block.piece]->render(block.region, at, rowBytes);
            lock.lock();
            --inHand_;
            done_ += std::uint64_t{block.region.rows} * block.region.columns;
            if (--blocksLeft_[block.piece] == 0)
                finished_.push_back(block.piece);
            changed_.notify_all();
        }
    }

    // The calling thread: finished pieces to deliver, the progress now and then.
    int handOut(bool inOrder, const std::function<bool(std::size_t, unsigned char*)>& deliver)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        std::size_t delivered = 0, nextInOrder = 0;
        std::vector<bool> ready(pieces_.size(), false);
        while (delivered < pieces_.size() && status_ == 0) {
            changed_.wait_for(lock, std::chrono::milliseconds(100), [&] {
                return status_ != 0 || (!finished_.empty() && (readAll_ || !settings_.holdUntilRead));
            });
            if (settings_.progress) {
                const std::uint64_t done = done_;
                lock.unlock();
                settings_.progress(done, total_);
                lock.lock();
            }
            if (status_ != 0 || (!readAll_ && settings_.holdUntilRead))
                continue;
            for (const std::size_t piece : finished_)
                ready[piece] = true;
            finished_.clear();
            for (std::size_t piece = inOrder ? nextInOrder : 0; piece < pieces_.size(); ++piece) {
                if (!ready[piece]) {
                    if (inOrder)
                        break;
                    continue;
                }
                ready[piece] = false;
                unsigned char* texels = texels_[piece];
                lock.unlock();
                const bool went = deliver(piece, texels);
                lock.lock();
                spare_.emplace(pieceBytes(piece), texels);
                --piecesOpen_;
                texels_[piece] = nullptr;
                changed_.notify_all();  // a worker may wait for a piece to be delivered
                ++delivered;
                nextInOrder = piece + 1;
                if (!went) {
                    stopLocked(-1);
                    break;
                }
            }
        }
        const int status = status_;
        stopLocked(status == 0 ? 1 : status);  // the workers and the reader leave
        lock.unlock();
        for (unsigned char* texels : texels_)
            std::free(texels);
        for (const auto& entry : spare_)
            std::free(entry.second);
        return status;
    }

    std::size_t pieceBytes(std::size_t piece) const
    {
        const TexelRegion& region = pieces_[piece].region;
        return settings_.headerBytes + std::size_t{region.rows} * region.columns * settings_.texelBytes;
    }
    // A buffer of `bytes`: one a delivered piece left, or a new one.
    unsigned char* takeBuffer(std::size_t bytes)
    {
        const auto spare = spare_.find(bytes);
        if (spare == spare_.end())
            return static_cast<unsigned char*>(std::malloc(bytes));
        unsigned char* buffer = spare->second;
        spare_.erase(spare);
        return buffer;
    }

    void stop(int status)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopLocked(status);
    }
    void stopLocked(int status)
    {
        if (status_ == 0)
            status_ = status;
        changed_.notify_all();
    }

    const std::vector<SweepPiece>& pieces_;
    const SweepSource& source_;
    const SweepSettings& settings_;
    std::vector<SweepBlock> blocks_;
    std::map<std::pair<int, std::uint32_t>, std::unique_ptr<PreparedDiamond>> prepared_;
    std::vector<PreparedDiamond*> diamondOf_;
    std::vector<unsigned char*> texels_;
    std::vector<std::uint32_t> blocksLeft_;
    std::vector<std::size_t> finished_;
    std::multimap<std::size_t, unsigned char*> spare_;  // buffers of delivered pieces, by size
    std::size_t piecesOpen_ = 0;                          // pieces begun and not delivered
    // Down the map every piece is begun at once; piece by piece, one at a time (the memory of
    // one texture beside the map's).
    std::size_t mostPiecesOpen_ = SIZE_MAX;
    LargeBuffer<unsigned char> window_;
    std::size_t rowBytes_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;           // the next block to render
    std::uint32_t rowsHeld_ = 0;     // rows read so far (the window holds windowFirst_ on)
    std::uint32_t windowFirst_ = 0;
    std::uint32_t inHand_ = 0;       // blocks being rendered
    bool readAll_ = false;
    int status_ = 0;                 // nonzero: stop (1: all done)
    std::uint64_t done_ = 0, total_ = 0;
};

}  // namespace

int runSweep(const std::vector<SweepPiece>& pieces, const SweepSource& source, const SweepSettings& settings,
             bool inOrder, const std::function<bool(std::size_t piece, unsigned char* texels)>& deliver)
{
    Sweep sweep(pieces, source, settings);
    return sweep.run(inOrder, deliver);
}
