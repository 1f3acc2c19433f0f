// The library's lock and its crash-safe writes.
#include "store.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform.h"
#include "utc.h"

namespace {

constexpr const char* lockName = "kxconvert.lock";

std::string folderOf(const std::string& path)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

std::string reasonOf(int error) { return std::strerror(error ? error : EIO); }

}  // namespace

Store::~Store()
{
    if (lock)
        std::fclose(lock);  // lets the lock go
}

std::string temporaryName(const std::string& path) { return path + ".part"; }

bool lockLibrary(Store& store, const std::string& folder)
{
    store.folder = folder;
    const std::string records = (std::filesystem::path(folder) / "records").string();
    if (!platform::exists(records.c_str()) && platform::makeFolder(records.c_str()) != 0 && errno != EEXIST) {
        fprintf(stderr, "kxconvert: cannot make the folder %s: %s\n", records.c_str(), std::strerror(errno));
        return false;
    }
    const std::string path = (std::filesystem::path(records) / lockName).string();
    const char* reason = "";
    store.lock = platform::openLockFile(path.c_str(), reason);
    if (!store.lock) {
        fprintf(stderr, "kxconvert: cannot open the library's lock %s: %s\n", path.c_str(), reason);
        return false;
    }
    for (bool said = false; !platform::tryLock(store.lock); said = true) {
        if (!said) {
            fprintf(stderr, "kxconvert: another kxconvert is changing the library %s; waiting for it to finish "
                            "(Ctrl-C stops waiting and changes nothing).\n", folder.c_str());
        }
        if (platform::pendingInterrupt()) {
            fprintf(stderr, "kxconvert: interrupted while waiting: nothing was changed.\n");
            return false;
        }
        platform::osSleepUs(50000);
    }
    char said[16] = "";
    std::rewind(store.lock);
    store.lastRunComplete = std::fgets(said, sizeof said, store.lock) && std::strcmp(said, "complete\n") == 0;
    return true;
}

void markComplete(Store& store)
{
    // Not flushed: a state lost with the power says "changing", which only costs the next run a closer look.
    std::rewind(store.lock);
    std::fputs("complete\n", store.lock);
    std::fflush(store.lock);
}

bool isLeftover(const std::string& name)
{
    const std::string ending = ".part";
    if (name.size() <= ending.size() || name.compare(name.size() - ending.size(), ending.size(), ending) != 0)
        return false;
    const std::string base = name.substr(0, name.size() - ending.size());
    if (base == logbookName || base == "index.html" || base == "flights.csv")
        return true;
    const std::size_t dot = base.find('.');
    return dot != std::string::npos && dayNumberOf(base.substr(0, dot)) > 0;
}

void removeLeftovers(const std::string& folder)
{
    for (const std::string& in : {folder, (std::filesystem::path(folder) / "records").string()}) {
        std::string removed;
        for (const std::string& name : platform::fileNames(in))
            if (isLeftover(name) && platform::removeFile((std::filesystem::path(in) / name).string().c_str()))
                removed += (removed.empty() ? "" : ", ") + name;
        if (!removed.empty())
            fprintf(stderr, "kxconvert: removed what a stopped run left in %s: %s\n", in.c_str(), removed.c_str());
    }
}

bool stage(Batch& batch, const std::string& path, const std::function<void(const Emit&)>& produce, std::string& reason)
{
    const std::string part = temporaryName(path);
    platform::noteFileChange("create", part.c_str());
    std::FILE* file = std::fopen(part.c_str(), "wb");
    bool ok = file != nullptr;
    int error = ok ? 0 : errno;
    if (file)
        produce([&](const std::string& piece) {
            platform::noteFileChange("write", part.c_str());
            if (ok && std::fwrite(piece.data(), 1, piece.size(), file) != piece.size()) {
                ok = false;
                error = errno;
            }
        });
    if (ok && !platform::writeBack(file)) {
        ok = false;
        error = errno;
    }
    if (file && std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        reason = reasonOf(error);
        if (file)
            platform::removeFile(part.c_str());
        return false;
    }
    stageWritten(batch, path);
    return true;
}

void stageWritten(Batch& batch, const std::string& path)
{
    batch.moves.emplace_back(temporaryName(path), path);
    batch.folders.insert(folderOf(path));
}

bool commit(Store& store, Batch& batch)
{
    bool ok = true;
    // The barrier: every file of the batch is on the disk before any takes its name.
    if (!batch.moves.empty() && store.lock) {
        std::rewind(store.lock);
        std::fputs("changing\n", store.lock);
        if (!platform::flushFile(store.lock)) {
            fprintf(stderr, "kxconvert: cannot flush the library's files to the disk: %s. Nothing took its name.\n",
                    std::strerror(errno));
            for (const auto& [part, path] : batch.moves)
                platform::removeFile(part.c_str());
            batch = Batch{};
            return false;
        }
    }
    for (const auto& [part, path] : batch.moves) {
        if (!platform::replaceFile(part.c_str(), path.c_str())) {
            fprintf(stderr, "kxconvert: cannot give %s its name: %s. The file there is as it was.\n", part.c_str(),
                    std::strerror(errno));
            platform::removeFile(part.c_str());
            ok = false;
        }
    }
    for (const std::string& folder : batch.folders)
        if (!platform::syncFolder(folder))
            fprintf(stderr, "kxconvert: cannot make the names in %s durable: %s\n", folder.c_str(), std::strerror(errno));
    batch = Batch{};
    return ok;
}

bool readWhole(const std::string& path, std::string& text, std::string& reason)
{
    const char* why = "";
    std::FILE* file = platform::openRegularFile(path.c_str(), "rb", why);
    if (!file) {
        reason = why;
        return false;
    }
    char chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, n);
    const bool ok = !std::ferror(file);
    if (!ok)
        reason = reasonOf(errno);
    std::fclose(file);
    return ok;
}

bool appendOnce(const std::string& path, const std::string& text, std::string& reason)
{
    std::string before, ignored;
    if (platform::exists(path.c_str()) && readWhole(path, before, ignored) && before.size() >= text.size() &&
        before.compare(before.size() - text.size(), text.size(), text) == 0)
        return true;
    platform::noteFileChange("append", path.c_str());
    std::FILE* file = std::fopen(path.c_str(), "ab");
    bool ok = file && std::fwrite(text.data(), 1, text.size(), file) == text.size() && platform::flushFile(file);
    int error = errno;
    if (file && std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok)
        reason = reasonOf(error);
    return ok && platform::syncFolder(folderOf(path));
}
