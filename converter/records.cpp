// Flights by their records: a log read into pieces, and pieces compared and joined.
#include "records.h"

#include <algorithm>

#include "exportfile.h"
#include "logfile.h"

namespace {

uint32_t timeAt(const Records& r, std::size_t k) { return recordTimestamp(reinterpret_cast<const uint8_t*>(&r[k * recordSize])); }

// The records of `r` from time `from` to `to`, both inclusive.
std::string_view between(const Records& r, uint32_t from, uint32_t to)
{
    std::size_t lo = 0, n = pointCount(r);
    while (lo < n && timeAt(r, lo) < from)
        ++lo;
    std::size_t hi = lo;
    while (hi < n && timeAt(r, hi) <= to)
        ++hi;
    return std::string_view(r).substr(lo * recordSize, (hi - lo) * recordSize);
}

}  // namespace

uint32_t firstTime(const Records& r) { return r.empty() ? 0 : timeAt(r, 0); }
uint32_t lastTime(const Records& r) { return r.empty() ? 0 : timeAt(r, pointCount(r) - 1); }

bool readPieces(bool partial, std::vector<Piece>& pieces)
{
    Records all;
    const bool readOk = forEachPoint(0, UINT32_MAX - recordSize + 1, [&](const uint8_t* record, uint32_t) {
        all.append(reinterpret_cast<const char*>(record), recordSize);
        return true;
    });
    const std::size_t n = pointCount(all);
    for (std::size_t k = 0, from = 0; k < n; ++k) {
        if (k + 1 == n || startsFlight(timeAt(all, k), timeAt(all, k + 1), FlightSplit::AtGapsAndBackwardSteps)) {
            pieces.push_back({all.substr(from * recordSize, (k + 1 - from) * recordSize)});
            from = k + 1;
        }
    }
    if (pieces.empty())
        return readOk;
    // A memory that wrapped holds its newest records first: the flight at
    // its end may go on at its start.
    const bool wrapped = lastTime(pieces.back().records) < firstTime(pieces.front().records);
    if (wrapped && !partial && pieces.size() > 1 &&
        !startsFlight(lastTime(pieces.back().records), firstTime(pieces.front().records), FlightSplit::AtGaps)) {
        pieces.back().records += pieces.front().records;
        pieces.erase(pieces.begin());
    }
    pieces.back().cutEnd = partial;
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const Piece& a, const Piece& b) { return firstTime(a.records) < firstTime(b.records); });
    // What came before the oldest records of a wrapped memory was written over.
    pieces.front().cutStart = wrapped;
    for (std::size_t k = 0; k < pieces.size(); ++k)
        pieces[k].number = static_cast<uint16_t>(std::min<std::size_t>(k + 1, UINT16_MAX));
    return readOk;
}

Overlap overlapOf(const Records& a, const Records& b)
{
    const uint32_t from = std::max(firstTime(a), firstTime(b)), to = std::min(lastTime(a), lastTime(b));
    if (a.empty() || b.empty() || from > to)
        return Overlap::None;
    const std::string_view inA = between(a, from, to), inB = between(b, from, to);
    if (inA.empty() && inB.empty())
        return Overlap::None;
    return inA == inB ? Overlap::Same : Overlap::Different;
}

Records joined(const Records& a, const Records& b)
{
    if (a.empty())
        return b;
    // Log times lie well inside 32 bits (record.h), so the neighbours of a's ends are times too.
    Records out(between(b, 0, firstTime(a) - 1));
    out += a;
    return out += between(b, lastTime(a) + 1, UINT32_MAX);
}
