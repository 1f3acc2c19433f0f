// Texts that every export of a flight writes for each sample: the time of
// day and the position as "longitude,latitude". The first export that walks
// a flight formats them; the KML track and the CSV export of the same flight
// take them from here, so each is worked out once. A store of fixed size
// holds them; samples past what it holds are formatted again each time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "record.h"

namespace sampletexts {

// Starts a walk over the flight from `start` to `stop`; the texts already
// stored stay when it is the flight last walked in this "raw.dat" under the
// same time zone (TZ). A new zone also drops the local-time cache.
void startFlight(uint32_t start, uint32_t stop);
// Forgets every text and time: "raw.dat" was opened anew.
void forget();
// Writes the time of day ("%H:%M:%S", local time) of the flight's
// `sample`-th point; nothing when the platform cannot convert its time.
char* clock(char* out, std::size_t sample, uint32_t time);
// Writes "%f,%f" of the position of the flight's `sample`-th point as
// stored, `point` being its decoded values before any position hold.
char* lonLat(char* out, std::size_t sample, const MMdata& point);

}  // namespace sampletexts
