// The sweep: a run's pieces (whole textures, mip levels, tiles) rendered from the map as its
// rows come in, top to bottom, on every core, and handed out one by one as they finish.
//
// Each piece is cut into blocks of texels, and each block knows the map rows its texels
// read: the rows its footprints' corners fall on (found on a coarse grid of its corners),
// with a margin for what lies between them and for the filters' reach, and every row to
// the pole for the blocks at the pole. A block is rendered once its rows are held. The rows
// are the whole decoded map, or a window of them that a reader fills in bands (map_rows.h)
// and that slides down the map, dropping the rows no block still needs; so a map is read
// once, decoding overlaps rendering, and a map larger than memory takes only the window.
// The texels are those of renderDiamondRegion, whichever way the rows are held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "diamond_renderer.h"
#include "samples.h"

class MapRows;

// One file's texels: `region` of diamond `diamond`'s grid at face size `faceSize`.
struct SweepPiece {
    int diamond = 0;
    std::uint32_t faceSize = 0;
    TexelRegion region;
};

// Where the map's rows come from: the whole decoded picture (every row held), or a reader
// that hands them out in order into a window of `windowRows` rows.
struct SweepSource {
    MapRowsInMemory whole;         // base set: the decoded picture
    MapRows* reader = nullptr;     // or this, with:
    std::uint32_t windowRows = 0;  // rows the window holds (the whole map, or fewer)
    std::uint32_t height = 0;      // the map's rows
};

struct SweepSettings {
    std::size_t texelBytes = 3;   // of a piece's texels
    std::size_t headerBytes = 0;  // room before each piece's texels (a TGA header's)
    unsigned threads = 0;         // 0: one a core
    bool holdUntilRead = false;   // hand no piece out before the whole map is read
    // Told the texels rendered so far, and the total, from the calling thread.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

// The rows each block of `piece` reads, and the blocks; for the memory a window needs.
// (Exposed for the tests and the memory budget.)
struct SweepBlock {
    std::size_t piece;
    TexelRegion region;        // within the piece's region
    std::uint32_t firstRow;    // the map rows it reads: firstRow to lastRow
    std::uint32_t lastRow;
};
std::vector<SweepBlock> sweepBlocks(const std::vector<SweepPiece>& pieces, std::uint32_t mapHeight);
// The blocks in the order a sweep of rows read in bands renders them: by the last row read.
void orderDownTheMap(std::vector<SweepBlock>& blocks);
// The rows a window must hold for blocks so ordered to go on: for each block, from the
// first row it or any later block reads to its own last.
std::uint32_t sweepWindowRows(const std::vector<SweepBlock>& orderedBlocks);
// The most bytes the pieces' buffers take at once: with the whole map held, piece by piece;
// read in bands, each piece from its first block to its last in `orderedBlocks` (or to the
// end with holdUntilRead). Buffers of the same size are reused.
std::uint64_t sweepTexelBytes(const std::vector<SweepPiece>& pieces, const std::vector<SweepBlock>& orderedBlocks,
                              const SweepSettings& settings, bool streamed);

// Renders every piece and calls deliver(piece, buffer) for each on the calling thread as it
// finishes (in any order unless `inOrder`, then in the order given), `buffer` the room for
// a header and then the piece's texels, rows of region.columns texels; deliver returns
// false to stop. With the whole map held the blocks go piece by piece (few pieces in
// memory at once); read in bands they go down the map (every piece at once). Returns 0
// when all went through, else the reader's failing status (image_object.h) or -1 when
// deliver stopped the sweep. Throws std::bad_alloc without the memory to start.
int runSweep(const std::vector<SweepPiece>& pieces, const SweepSource& source, const SweepSettings& settings,
             bool inOrder, const std::function<bool(std::size_t piece, unsigned char* texels)>& deliver);
