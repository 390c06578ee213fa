// The registry's contents and the file behind them.
//
// Failures are handled so that nothing the user had is ever lost:
// - A file that is there but cannot be read (a directory in its place, no
//   permission, an I/O error, absurdly large, text that cannot be decoded)
//   leaves the registry empty and refuses every write from then on with
//   ERROR_ACCESS_DENIED: saving would replace settings we never saw.
// - Every successful change rewrites the whole file through a temporary file
//   in the same folder that is synced and then renamed over the old one, so
//   the file on disk is always either the old one or the new one.
// - When that write fails, the change stays in memory (the rest of this run
//   sees it, and the next save that works writes it out) but the call returns
//   ERROR_WRITE_FAULT rather than pretend the change was stored. The old
//   file is left as it was and the temporary file is removed.
// - Another process (a second saver, its configuration dialog) may have saved
//   since we read the file. Before writing we look at the file again; when it
//   changed we read it afresh and apply only the change at hand on top, so
//   both processes keep what they wrote.
// - A signal that ends the process waits until the temporary file is renamed
//   into place or removed. One that cannot wait (SIGKILL, a crash, power
//   lost) may leave it behind; a later save removes such a leftover once no
//   live save can still be writing it: a minute old and locked by no one
//   (every save holds a lock on its own while it writes).
#include "registry/store.h"

#include <dirent.h>
#include <fcntl.h>
#include <layer_hooks.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

#include "session/layer_internal.h"
#include "session/termination.h"

namespace vantrel::registry {
namespace {

// Enough to tell that another process replaced or edited the file: every
// save makes a new inode, an edit in place moves the times or the size.
struct Stamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    long long changedSeconds = 0;
    long changedNanoseconds = 0;

    bool operator==(const Stamp &other) const = default;
};

Stamp StampOf(const struct stat &info)
{
    Stamp stamp;
    stamp.exists = true;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.modifiedSeconds = info.st_mtim.tv_sec;
    stamp.modifiedNanoseconds = info.st_mtim.tv_nsec;
    stamp.changedSeconds = info.st_ctim.tv_sec;
    stamp.changedNanoseconds = info.st_ctim.tv_nsec;
    return stamp;
}

// Paths, names and data as the A calls gave them: each document they are
// applied to holds text in its own way.
struct Change {
    enum Kind { NewKey, SetData, RemoveValue } kind;
    std::string path;
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

Tree tree;
Tree runValues;  // SetRunValue's: read before the tree, never saved
std::string filePath;  // "" while the registry lives in memory only
bool loaded = true;
bool readOnly = false;
Stamp stamp;  // the file as we last read or wrote it

// A settings file is a few hundred bytes; anything this large is not one we
// should parse and rewrite (and the parents its sections imply could make
// it hundreds of times larger in memory).
constexpr size_t kLargestFile = 1u << 20;

enum class ReadResult { Read, Missing, Unreadable };

ReadResult ReadBytes(const std::string &path, std::string &text, Stamp &seen)
{
    text.clear();
    seen = Stamp{};
    // Non-blocking, so that a FIFO in the file's place cannot hang the saver.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Unreadable;
    ReadResult result = ReadResult::Unreadable;
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<size_t>(info.st_size) <= kLargestFile) {
        seen = StampOf(info);
        result = ReadResult::Read;
        char buffer[65536];
        for (;;) {
            ssize_t got = read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 || text.size() + static_cast<size_t>(got) > kLargestFile) {
                result = ReadResult::Unreadable;
                break;
            }
            if (got == 0)
                break;
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    close(fd);
    if (result != ReadResult::Read)
        text.clear();
    return result;
}

// The file as a document: an empty one when it is missing, nothing when it
// cannot be read or decoded.
std::optional<Document> ReadDocument(const std::string &path, Stamp &seen)
{
    std::string bytes;
    switch (ReadBytes(path, bytes, seen)) {
    case ReadResult::Read:
        return ParseFile(bytes);
    case ReadResult::Missing:
        return Document{};
    case ReadResult::Unreadable:
        break;
    }
    return std::nullopt;
}

Stamp CurrentStamp()
{
    struct stat info;
    return stat(filePath.c_str(), &info) == 0 ? StampOf(info) : Stamp{};
}

void EnsureLoaded()
{
    if (loaded)
        return;
    loaded = true;
    std::optional<Document> document = ReadDocument(filePath, stamp);
    readOnly = !document;
    tree = Tree(document ? std::move(*document) : Document{});
}

std::string Spelled(const std::string &text)
{
    return AnsiText(tree.Doc(), text);
}

void Apply(const Change &change, Tree &target)
{
    std::string path = AnsiText(target.Doc(), change.path);
    switch (change.kind) {
    case Change::NewKey:
        target.CreateKey(path);
        break;
    case Change::SetData:
        // The key may be missing from a file another process rewrote; the
        // value still needs a home, so the key comes back with it.
        Tree::SetValue(target.CreateKey(path), AnsiValue(target.Doc(), change.name, change.type, change.data));
        break;
    case Change::RemoveValue:
        if (Section *section = target.FindKey(path))
            Tree::DeleteValue(*section, AnsiText(target.Doc(), change.name));
        break;
    }
}

// A registry file that is a symbolic link (a dotfile kept elsewhere) is
// written where it points, so the link survives the rename.
std::string WriteTarget()
{
    struct stat info;
    if (lstat(filePath.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char *resolved = realpath(filePath.c_str(), nullptr)) {
            std::string target = resolved;
            std::free(resolved);
            return target;
        }
    }
    return filePath;
}

std::string FolderOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeFolders(const std::string &folder)
{
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        std::string prefix = folder.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat info;
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// The temporary files our saves make next to `target`: its name, a dot and
// the six letters or digits that mkostemp puts in place of "XXXXXX". A
// person may keep a copy beside it under such a name too ("registry.reg.backup",
// ".BEFORE", ".202612"): six of one kind of character are taken for theirs,
// at the cost of the odd leftover of ours that happens to look like that.
bool IsTemporaryOf(const std::string &name, const std::string &targetName)
{
    if (name.size() != targetName.size() + 7 || name.compare(0, targetName.size(), targetName) != 0 ||
        name[targetName.size()] != '.')
        return false;
    bool lower = false, upper = false, digit = false;
    for (size_t i = targetName.size() + 1; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'a' && c <= 'z')
            lower = true;
        else if (c >= 'A' && c <= 'Z')
            upper = true;
        else if (c >= '0' && c <= '9')
            digit = true;
        else
            return false;
    }
    return lower + upper + digit >= 2;
}

// A save writes its temporary file within moments of making it; one
// untouched for this long belongs to a save that was cut short, unless a
// live save still holds its lock (one stuck in a slow fsync).
constexpr time_t kLeftoverAge = 60;

void RemoveLeftovers(const std::string &target, const std::string &folder)
{
    std::string targetName = target.substr(target.rfind('/') + 1);
    DIR *listing = opendir(folder.c_str());
    if (!listing)
        return;
    time_t now = time(nullptr);
    while (dirent *entry = readdir(listing)) {
        if (!IsTemporaryOf(entry->d_name, targetName))
            continue;
        int fd = openat(dirfd(listing), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info;
        if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
            now - info.st_mtim.tv_sec >= kLeftoverAge && flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlinkat(dirfd(listing), entry->d_name, 0);
        close(fd);
    }
    closedir(listing);
}

// The part of a save that must not be cut short: the temporary file made,
// written, synced and renamed over the target, or removed again.
bool WriteAndReplace(const std::string &target, int &fdOut)
{
    std::string pattern = target + ".XXXXXX";
    std::vector<char> temp(pattern.begin(), pattern.end());
    temp.push_back('\0');
    int fd = mkostemp(temp.data(), O_CLOEXEC);  // a new file of our own, mode 0600
    if (fd < 0)
        return false;
    // Tells a later save's clean-up that this one is alive.
    flock(fd, LOCK_EX | LOCK_NB);
    bool ok = WriteAll(fd, WriteFile(tree.Doc()));
    struct stat old;
    if (ok && stat(target.c_str(), &old) == 0)
        ok = fchmod(fd, old.st_mode & 07777) == 0;  // the user's choice of mode stays
    ok = ok && fsync(fd) == 0;
    if (layer::S().registrySaveHook)
        layer::S().registrySaveHook();
    ok = ok && !layer::TakeFault("RegistryRename");
    ok = ok && rename(temp.data(), target.c_str()) == 0;
    if (!ok) {
        unlink(temp.data());
        close(fd);
        return false;
    }
    fdOut = fd;
    return true;
}

LSTATUS Save()
{
    std::string target = WriteTarget();
    std::string folder = FolderOf(target);
    if (!MakeFolders(folder))
        return kErrorWriteFault;
    int fd = -1;
    layer::HoldTermination();
    bool ok = WriteAndReplace(target, fd);
    layer::ReleaseTermination();
    if (!ok)
        return kErrorWriteFault;
    struct stat info;
    stamp = fstat(fd, &info) == 0 ? StampOf(info) : Stamp{};
    close(fd);
    // The rename itself must reach the disk too, or a crash could bring the
    // old file back after we reported success.
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    RemoveLeftovers(target, folder);
    return ERROR_SUCCESS;
}

// Makes a change that is already applied in memory lasting.
LSTATUS Persist(const Change &change)
{
    if (filePath.empty())
        return ERROR_SUCCESS;
    if (CurrentStamp() != stamp) {
        Stamp seen;
        std::optional<Document> document = ReadDocument(filePath, seen);
        if (!document) {
            readOnly = true;
            return ERROR_ACCESS_DENIED;
        }
        Tree fresh(std::move(*document));
        Apply(change, fresh);
        tree = std::move(fresh);
        stamp = seen;
    }
    return Save();
}

}  // namespace

bool KeyExists(const std::string &path)
{
    EnsureLoaded();
    return tree.KeyExists(Spelled(path)) || runValues.KeyExists(path);
}

LSTATUS CreateKey(const std::string &path)
{
    EnsureLoaded();
    if (tree.KeyExists(Spelled(path)))
        return ERROR_SUCCESS;
    if (readOnly)
        return ERROR_ACCESS_DENIED;
    Change change{Change::NewKey, path, {}, REG_NONE, {}};
    Apply(change, tree);
    return Persist(change);
}

const Value *FindValue(const std::string &path, const std::string &name)
{
    EnsureLoaded();
    if (Section *run = runValues.FindKey(path))
        if (const Value *value = Tree::FindValue(*run, name))
            return value;
    Section *section = tree.FindKey(Spelled(path));
    return section ? Tree::FindValue(*section, Spelled(name)) : nullptr;
}

void SetRunValue(const std::string &path, const std::string &name, DWORD type, std::vector<BYTE> data)
{
    Tree::SetValue(runValues.CreateKey(path), {name, type, std::move(data)});
}

LSTATUS SetValue(const std::string &path, const std::string &name, DWORD type, std::vector<BYTE> data)
{
    EnsureLoaded();
    if (readOnly)
        return ERROR_ACCESS_DENIED;
    if (!tree.KeyExists(Spelled(path)))
        return kErrorKeyDeleted;
    Change change{Change::SetData, path, name, type, std::move(data)};
    Apply(change, tree);
    return Persist(change);
}

LSTATUS DeleteValue(const std::string &path, const std::string &name)
{
    EnsureLoaded();
    if (readOnly)
        return ERROR_ACCESS_DENIED;
    Section *section = tree.FindKey(Spelled(path));
    if (!section || !Tree::FindValue(*section, Spelled(name)))
        return tree.KeyExists(Spelled(path)) ? ERROR_FILE_NOT_FOUND : kErrorKeyDeleted;
    Change change{Change::RemoveValue, path, name, REG_NONE, {}};
    Apply(change, tree);
    return Persist(change);
}

void UseFile(const std::string &path)
{
    CloseAllKeys();
    tree = Tree();
    filePath = path;
    loaded = path.empty();
    readOnly = false;
    stamp = Stamp{};
}

void Reset()
{
    runValues = Tree();
    UseFile("");
}

}  // namespace vantrel::registry

namespace layer {

void UseRegistryFile(const std::string &path)
{
    vantrel::registry::UseFile(path);
}

std::string RegistryFilePath(const char *vantrelRegistry, const char *xdgConfigHome, const char *home)
{
    if (vantrelRegistry && *vantrelRegistry)
        return vantrelRegistry;
    // A relative XDG_CONFIG_HOME is invalid and must be ignored; honouring it
    // would scatter settings into whatever folder the saver started in.
    if (xdgConfigHome && xdgConfigHome[0] == '/')
        return std::string(xdgConfigHome) + "/vantrel/registry.reg";
    if (home && *home)
        return std::string(home) + "/.config/vantrel/registry.reg";
    return "";
}

}  // namespace layer
