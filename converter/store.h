// The library's files on the disk: one run at a time, and every change whole,
// atomic and durable.
//
// A run that changes a library holds the lock records/kxconvert.lock (an
// advisory lock the system lets go when the run ends, however it ends) and
// writes in this order, each step finished before the next begins:
//   1. what a stopped run left (temporary files ending in .part) is removed;
//   2. the records of the flights new to the library or longer: records/NAME.kxr;
//   3. the files made from them: NAME.igc, .gpx, .kml, .html;
//   4. the library's own list of its flights, records/flights.csv;
//   5. logbook.unreadable.txt (appended to), logbook.csv and index.html.
// A step writes each file under a temporary name (its name and ".part"),
// writes its data back to the disk, passes one barrier for all of them (the
// disk's cache flushed), gives each its name, and makes the folder's names
// durable. A run stopped anywhere leaves every file whole, as it was or as
// it became; the next run finds records that the list does not know, or
// knows shorter, and makes their files and rows again.
#pragma once

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "logbook.h"

// The files of one step: each written under its temporary name, then all
// given their names at once by commit().
struct Batch {
    std::vector<std::pair<std::string, std::string>> moves;  // temporary name, name
    std::set<std::string> folders;                           // whose names change
};

// The library's lock, held from lockLibrary to the end of the run. The lock
// file also tells whether the last run that changed the library finished
// ("complete") or may have been stopped ("changing"): the barrier of each
// step writes "changing" into it, and a run that finished every step writes
// "complete" last.
struct Store {
    std::string folder;
    std::FILE* lock = nullptr;
    bool lastRunComplete = false;
    ~Store();
};

// The temporary name of a file of the library.
std::string temporaryName(const std::string& path);
// Takes the library's lock; when another run holds it, says so and waits.
// False (with the reason on standard error) when the lock cannot be made,
// or when an interrupt came while waiting: then nothing was changed.
bool lockLibrary(Store& store, const std::string& folder);
// Notes in the lock file that this run finished every step.
void markComplete(Store& store);
// Removes what a stopped run left in the library's folders, and says so.
void removeLeftovers(const std::string& folder);
// The temporary files of kxconvert in the library: names ending in ".part"
// whose name before is the logbook's, the index's, the list's or a flight's.
bool isLeftover(const std::string& name);
// Writes `produce`'s pieces into the temporary file of `path` and takes it
// into `batch`; false with the reason (and nothing taken) when it could not
// be written whole.
bool stage(Batch& batch, const std::string& path, const std::function<void(const Emit&)>& produce,
           std::string& reason);
// Takes a file written by an export (its temporary name written back) into `batch`.
void stageWritten(Batch& batch, const std::string& path);
// The barrier, the names and the folders' names of `batch`; false with the
// reason on standard error when a file could not take its name (the others
// still do). The batch is empty after.
bool commit(Store& store, Batch& batch);
// Appends `text` to the file at `path` and makes it durable, unless the file
// already ends with it (a stopped run appended it already).
bool appendOnce(const std::string& path, const std::string& text, std::string& reason);
// The file's bytes into `text`; false with the reason when it cannot be read.
bool readWhole(const std::string& path, std::string& text, std::string& reason);
