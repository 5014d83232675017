// The map's edges, one rule for every sampler: longitude is periodic, so columns wrap round
// the map; latitude is not, so rows stop at the first and the last (past the last row lies
// the south pole, past the first the north pole). Written once for plain integers and floats
// and for the kernels' vector lanes, whose comparisons give masks that `?:` takes lane by
// lane; static, so that every kernel keeps its own copy.
#pragma once

// A column (or a picture coordinate) at most one period outside [0, period), brought into
// it. Below zero first: a float a hair under zero plus the period may round to the period
// itself, which the second step then brings to zero.
template <class T>
static inline T wrapOnce(T column, T period)
{
    const T zero = period - period;
    column = column < zero ? column + period : column;
    return column >= period ? column - period : column;
}

// A row (or a picture coordinate) stopped at the first and the last; NaN goes to the first.
template <class T>
static inline T clampRow(T row, T lastRow)
{
    const T zero = lastRow - lastRow;
    row = row > zero ? row : zero;
    return row < lastRow ? row : lastRow;
}

// The row below `row` (one already clamped), or the last row itself at the bottom.
template <class T>
static inline T rowBelow(T row, T lastRow)
{
    return row < lastRow ? row + 1 : lastRow;
}
