// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/registry/Registry.h"

#include "platform/linux/registry/RegistryAutostart.h"
#include "platform/linux/registry/RegistryText.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace fb::linux_impl {

namespace {

// Our own store holds a few values; anything near this size is not ours.
constexpr std::size_t kStoreLimit = 64u << 20;
// Wine's hives grow to tens of megabytes with many programs installed.
constexpr std::size_t kHiveLimit = 512u << 20;
// What is still pending at exit gets one more, shorter, wait: logout must not hang on it.
constexpr std::chrono::milliseconds kExitWait{500};

long ErrorFromErrno(int error) {
    return (error == EACCES || error == EPERM || error == EROFS) ? reg::kAccessDenied
                                                                 : reg::kWriteFault;
}

void SetError(long* error, long code) {
    if (error != nullptr)
        *error = code;
}

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/')
        return {};
    return StripTrailingSlashes(value);
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return StripTrailingSlashes(home);
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr)
        return StripTrailingSlashes(result->pw_dir);
    return "/";
}

// A parsed hive, re-read only when the file behind it changed.
struct CachedHive {
    std::optional<FileStamp> stamp;
    std::shared_ptr<const RegHive> hive = std::make_shared<RegHive>();
};

} // namespace

// A change of the store: applied to a hive it says whether it changed anything and gives a
// result code. It owns what it needs, so that it can wait as a pending change.
using StoreChange = std::function<long(RegHive&, bool& changed)>;

struct FileRegistry::State {
    State(Paths paths, std::shared_ptr<FileOps> ops)
        : paths(std::move(paths))
        , ops(ops ? std::move(ops) : std::make_shared<FileOps>())
        , autostart(this->paths.autostartDir, this->ops) {}

    Paths paths;
    std::shared_ptr<FileOps> ops;
    RegistryAutostart autostart;
    std::mutex mutex; // guards the Wine hives' caches
    CachedHive userHive;
    CachedHive systemHive;

    // Our store, parsed once per change of the file, and the changes that could not be saved yet
    // because another process held the lock. Guarded by storeMutex.
    std::mutex storeMutex;
    std::optional<FileStamp> storeStamp; // the file `disk` was read from; none: read again
    std::shared_ptr<const RegHive> disk = std::make_shared<RegHive>();
    std::shared_ptr<const RegHive> view; // `disk` with the pending changes; null: to be made
    std::vector<StoreChange> pending;
    // The Run value not projected yet: a command line, or nothing for its removal.
    std::optional<std::optional<std::string>> pendingRun;
    bool lockNoticeShown = false;
    bool readOnlyNoticeShown = false;

    // ---- Reading ----

    // A hive of the Wine prefix as it is now; an empty one when it is missing or unreadable.
    std::shared_ptr<const RegHive> WineHive(CachedHive& cache, const std::string& name) {
        if (paths.winePrefix.empty())
            return std::make_shared<RegHive>();
        const std::string path = paths.winePrefix + "/" + name;
        const std::optional<FileStamp> stamp = StatRegularFile(path);
        std::lock_guard lock(mutex);
        if (stamp == cache.stamp)
            return cache.hive;
        FileContent content = ReadWholeFile(path, kHiveLimit);
        auto hive = std::make_shared<RegHive>();
        if (content.status == ReadStatus::Ok &&
            ParseRegistryText(content.text, *hive, RegParseMode::Lenient))
            *hive = RegHive(); // not a registry file at all
        cache.stamp = content.status == ReadStatus::Ok ? std::optional(content.stamp) : stamp;
        cache.hive = std::move(hive);
        return cache.hive;
    }
    std::shared_ptr<const RegHive> UserHive() { return WineHive(userHive, "user.reg"); }
    std::shared_ptr<const RegHive> SystemHive() { return WineHive(systemHive, "system.reg"); }

    // Our store as this process sees it: the file with the changes still pending.
    std::shared_ptr<const RegHive> Store() {
        std::lock_guard guard(storeMutex);
        return View();
    }

    std::shared_ptr<const RegHive> View() {
        const auto current = Disk();
        if (pending.empty())
            return current;
        if (!view) {
            auto merged = std::make_shared<RegHive>(*current);
            ApplyPending(*merged);
            view = std::move(merged);
        }
        return view;
    }

    void Remember(std::optional<FileStamp> stamp, std::shared_ptr<const RegHive> hive) {
        storeStamp = stamp;
        disk = std::move(hive);
        view.reset();
    }

    // The store file, parsed again only when its stamp changed. A store that cannot be parsed
    // is set aside and reads as empty.
    std::shared_ptr<const RegHive> Disk() {
        const std::optional<FileStamp> stamp = StatRegularFile(paths.store);
        if (stamp && stamp == storeStamp)
            return disk;
        FileContent content = ReadWholeFile(paths.store, kStoreLimit);
        auto hive = std::make_shared<RegHive>();
        if (content.status == ReadStatus::Ok &&
            (content.text.empty() ||
             !ParseRegistryText(content.text, *hive, RegParseMode::Strict))) {
            Remember(content.stamp, std::move(hive));
            return disk;
        }
        if (content.status == ReadStatus::Ok || content.status == ReadStatus::TooLarge) {
            FileLock lock(paths.lock,
                          pending.empty() ? FileLock::kDefaultWait : std::chrono::milliseconds{0});
            RegHive ignoredHive;
            long ignored = 0;
            if (lock.Held())
                LoadForWrite(ignoredHive, ignored);
        }
        Remember(std::nullopt, std::make_shared<RegHive>()); // missing or unreadable: defaults
        return disk;
    }

    // ---- Writing (under the lock) ----

    // Reads the store for a change; sets a damaged one aside first. False (with the error) when
    // the store may not be replaced.
    bool LoadForWrite(RegHive& hive, long& error) {
        const std::optional<FileStamp> stamp = StatRegularFile(paths.store);
        if (stamp && stamp == storeStamp) {
            hive = *disk; // nobody wrote since we read it
            return true;
        }
        hive = RegHive();
        FileContent content = ReadWholeFile(paths.store, kStoreLimit);
        switch (content.status) {
        case ReadStatus::Missing:
            return true;
        case ReadStatus::Failed:
            error = ErrorFromErrno(errno);
            return false;
        case ReadStatus::Ok:
            if (content.text.empty() ||
                !ParseRegistryText(content.text, hive, RegParseMode::Strict)) {
                Remember(content.stamp, std::make_shared<RegHive>(hive));
                return true;
            }
            break;
        case ReadStatus::TooLarge:
            break;
        }
        hive = RegHive();
        if (SetFileAside(paths.store).empty()) {
            error = reg::kWriteFault; // never write over what we could not read
            return false;
        }
        return true;
    }

    bool ApplyPending(RegHive& hive) {
        bool any = false;
        for (const auto& change : pending) {
            bool changed = false;
            change(hive, changed);
            any = any || changed;
        }
        return any;
    }

    std::string StoreName() const { return paths.store.substr(paths.store.rfind('/') + 1); }

    void NoteLocked() {
        if (std::exchange(lockNoticeShown, true))
            return;
        std::fprintf(stderr,
                     "flowbright: %s is locked by another process; the change is kept and saved "
                     "later\n",
                     StoreName().c_str());
    }

    void NoteReadOnly() {
        if (std::exchange(readOnlyNoticeShown, true))
            return;
        std::fprintf(stderr, "flowbright: %s is read-only; changes to it are not saved\n",
                     StoreName().c_str());
    }

    // The lock for a write. Once a change waits for another process, later writes only try the
    // lock, so that a save of many values does not wait once per value.
    std::unique_ptr<FileLock> LockForWrite() {
        const bool waiting = !pending.empty() || pendingRun.has_value();
        return std::make_unique<FileLock>(paths.lock, waiting ? std::chrono::milliseconds{0}
                                                              : FileLock::kDefaultWait);
    }

    // Keeps a change that could not be written because the lock is busy; reads see it.
    long KeepPending(StoreChange change) {
        auto merged = std::make_shared<RegHive>(*View());
        bool changed = false;
        const long result = change(*merged, changed);
        if (result != reg::kSuccess || !changed)
            return result;
        pending.push_back(std::move(change));
        view = std::move(merged);
        NoteLocked();
        return reg::kSuccess;
    }

    // Writes the pending changes and `change` (when given) to the store. The caller holds the
    // lock and storeMutex.
    long WriteLocked(const StoreChange* change) {
        RegHive hive;
        long error = reg::kSuccess;
        if (!LoadForWrite(hive, error))
            return error;
        bool changed = ApplyPending(hive);
        long result = reg::kSuccess;
        if (change != nullptr) {
            bool changedNow = false;
            result = (*change)(hive, changedNow);
            changed = changed || (result == reg::kSuccess && changedNow);
        }
        if (!changed) {
            pending.clear();
            return result;
        }
        RemoveStaleTemporaries(*ops, paths.store);
        const int written = AtomicReplaceFile(*ops, paths.store, FormatRegistryText(hive), 0600);
        if (written != 0) {
            const long code = ErrorFromErrno(written);
            if (code == reg::kAccessDenied)
                NoteReadOnly();
            return code; // pending changes stay pending
        }
        pending.clear();
        lockNoticeShown = false;
        Remember(StatRegularFile(paths.store), std::make_shared<RegHive>(std::move(hive)));
        return result;
    }

    // Applies `change` to the store under the lock and writes the result when `change` reports
    // a modification, with any changes still pending. When another process holds the lock the
    // change is kept in memory and written by a later save.
    long Modify(StoreChange change) {
        std::lock_guard guard(storeMutex);
        const auto lock = LockForWrite();
        if (!lock->Held())
            return lock->Busy() ? KeepPending(std::move(change)) : ErrorFromErrno(lock->Error());
        FlushRunLocked();
        return WriteLocked(&change);
    }

    // ---- The Run value, projected onto the autostart entry ----

    std::optional<std::string> RunValue() {
        std::lock_guard guard(storeMutex);
        return pendingRun ? *pendingRun : autostart.Read();
    }

    void FlushRunLocked() {
        if (!pendingRun)
            return;
        const long result =
            *pendingRun ? autostart.WriteCommandLine(**pendingRun) : autostart.Remove();
        if (result == reg::kSuccess || result == reg::kFileNotFound)
            pendingRun.reset();
    }

    // Sets (a command line) or removes (nothing) the Run value.
    long ChangeRunValue(const std::optional<std::string>& commandLine) {
        std::lock_guard guard(storeMutex);
        if (!commandLine && !(pendingRun ? pendingRun->has_value() : autostart.Read().has_value()))
            return reg::kFileNotFound;
        const auto lock = LockForWrite();
        if (!lock->Held()) {
            if (!lock->Busy())
                return ErrorFromErrno(lock->Error());
            pendingRun = commandLine;
            NoteLocked();
            return reg::kSuccess;
        }
        pendingRun.reset();
        if (!pending.empty())
            WriteLocked(nullptr);
        return commandLine ? autostart.WriteCommandLine(*commandLine) : autostart.Remove();
    }

    // At exit: one more, bounded, attempt at what is still pending; what cannot be written is
    // reported, since it is lost with the process.
    void FlushAtExit() {
        std::lock_guard guard(storeMutex);
        if (pending.empty() && !pendingRun)
            return;
        FileLock lock(paths.lock, kExitWait);
        if (lock.Held()) {
            FlushRunLocked();
            if (!pending.empty())
                WriteLocked(nullptr);
        }
        const std::size_t lost = pending.size() + (pendingRun ? 1 : 0);
        if (lost != 0)
            std::fprintf(
                stderr, "flowbright: %s %s; %zu unsaved change(s) are lost\n", StoreName().c_str(),
                lock.Busy() ? "is still locked by another process" : "could not be written", lost);
    }

    // ---- Keys ----

    bool UserKeyExists(const std::string& path) {
        return RegistryAutostart::IsAlwaysPresentKey(path) || Store()->KeyExists(path) ||
               UserHive()->KeyExists(path);
    }

    // The HKLM key a 32-bit program sees: in a 64-bit prefix "Software\X" is looked up in
    // "Software\Wow6432Node\X" first.
    std::optional<std::string> ResolveMachineKey(const std::string& path) {
        const auto hive = SystemHive();
        const std::string normalized = NormalizeRegistryPath(path);
        const std::string folded = FoldRegistryName(normalized);
        if (hive->Is64Bit() && folded.rfind("software\\", 0) == 0 &&
            folded.rfind("software\\wow6432node", 0) != 0) {
            const std::string redirected =
                normalized.substr(0, 9) + "Wow6432Node\\" + normalized.substr(9);
            if (hive->KeyExists(redirected))
                return redirected;
        }
        if (hive->KeyExists(normalized))
            return normalized;
        return std::nullopt;
    }
};

namespace {

class FileRegKey : public IRegKey {
public:
    FileRegKey(std::shared_ptr<FileRegistry::State> state, RegRoot root, std::string path,
               bool writable)
        : m_state(std::move(state))
        , m_root(root)
        , m_path(std::move(path))
        , m_writable(writable) {}

    long QueryValue(const std::string& name, std::uint32_t* type, std::uint8_t* data,
                    std::uint32_t* size) override {
        std::uint32_t foundType = 0;
        std::vector<std::uint8_t> found;
        if (!Lookup(name, foundType, found))
            return reg::kFileNotFound;
        if (found.size() > UINT32_MAX)
            return reg::kWriteFault;
        const auto needed = static_cast<std::uint32_t>(found.size());
        if (type != nullptr)
            *type = foundType;
        if (data != nullptr) {
            if (size == nullptr)
                return reg::kMoreData;
            if (*size < needed) {
                *size = needed;
                return reg::kMoreData;
            }
            std::copy(found.begin(), found.end(), data);
        }
        if (size != nullptr)
            *size = needed;
        return reg::kSuccess;
    }

    long SetValue(const std::string& name, std::uint32_t type, const std::uint8_t* data,
                  std::uint32_t size) override {
        if (!m_writable || m_root != RegRoot::CurrentUser)
            return reg::kAccessDenied;
        if (data == nullptr && size != 0)
            return reg::kWriteFault;
        if (RegistryAutostart::IsProjectedValue(m_path, name)) {
            const auto commandLine = RegistryAutostart::CommandLineOf(type, data, size);
            return commandLine ? m_state->ChangeRunValue(commandLine) : reg::kWriteFault;
        }
        return SetValues({RegValueWrite{name, type, std::vector<std::uint8_t>(data, data + size)}});
    }

    long SetValues(const std::vector<RegValueWrite>& values) override {
        if (!m_writable || m_root != RegRoot::CurrentUser)
            return reg::kAccessDenied;
        for (const auto& value : values) {
            // The start-up entry is a file of its own and cannot share the store's write.
            if (RegistryAutostart::IsProjectedValue(m_path, value.name))
                return values.size() == 1 ? SetValue(value.name, value.type, value.data.data(),
                                                     static_cast<std::uint32_t>(value.data.size()))
                                          : reg::kAccessDenied;
            if (value.data.size() > UINT32_MAX)
                return reg::kWriteFault;
        }
        return m_state->Modify([path = m_path, values](RegHive& hive, bool& changed) {
            const std::int64_t now = std::time(nullptr);
            RegKeyNode& key = hive.CreateKey(path, now);
            for (const auto& value : values)
                changed = key.Set(value.name, value.type, value.data) || changed;
            if (changed)
                key.modified = now;
            return reg::kSuccess;
        });
    }

    long DeleteValue(const std::string& name) override {
        if (!m_writable || m_root != RegRoot::CurrentUser)
            return reg::kAccessDenied;
        if (RegistryAutostart::IsProjectedValue(m_path, name))
            return m_state->ChangeRunValue(std::nullopt);
        const std::shared_ptr<const RegHive> wine = m_state->UserHive();
        return m_state->Modify([path = m_path, name, wine](RegHive& hive, bool& changed) {
            RegKeyNode* key = hive.FindKey(path);
            if (key != nullptr && key->Erase(name)) {
                key->modified = std::time(nullptr);
                changed = true;
                return reg::kSuccess;
            }
            // A value of the Wine prefix shows through, and the prefix is never written.
            const RegKeyNode* wineKey = wine->FindKey(path);
            return (wineKey != nullptr && wineKey->Find(name) != nullptr) ? reg::kAccessDenied
                                                                          : reg::kFileNotFound;
        });
    }

    bool FromWindowsPrefix(const std::string& name) override {
        if (m_root == RegRoot::LocalMachine)
            return true;
        if (RegistryAutostart::IsProjectedValue(m_path, name))
            return false;
        const RegKeyNode* own = m_state->Store()->FindKey(m_path);
        if (own != nullptr && own->Find(name) != nullptr)
            return false;
        const RegKeyNode* wine = m_state->UserHive()->FindKey(m_path);
        return wine != nullptr && wine->Find(name) != nullptr;
    }

private:
    bool Lookup(const std::string& name, std::uint32_t& type, std::vector<std::uint8_t>& data) {
        const auto take = [&](const RegKeyNode* key) {
            const RegValue* value = key != nullptr ? key->Find(name) : nullptr;
            if (value == nullptr)
                return false;
            type = value->type;
            data = value->data;
            return true;
        };
        if (m_root == RegRoot::LocalMachine)
            return take(m_state->SystemHive()->FindKey(m_path));
        if (RegistryAutostart::IsProjectedValue(m_path, name)) {
            const auto commandLine = m_state->RunValue();
            if (!commandLine)
                return false;
            type = reg::kSz;
            data.assign(commandLine->begin(), commandLine->end());
            data.push_back(0);
            return true;
        }
        const auto store = m_state->Store();
        return take(store->FindKey(m_path)) || take(m_state->UserHive()->FindKey(m_path));
    }

    std::shared_ptr<FileRegistry::State> m_state;
    RegRoot m_root;
    std::string m_path;
    bool m_writable;
};

} // namespace

FileRegistry::FileRegistry(Paths paths, std::shared_ptr<FileOps> ops)
    : m_state(std::make_shared<State>(std::move(paths), std::move(ops))) {}

FileRegistry::~FileRegistry() {
    m_state->FlushAtExit();
}

FileRegistry::Paths FileRegistry::DefaultPaths() {
    const std::string home = HomeDirectory();
    std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
    if (config.empty())
        config = (home == "/" ? std::string() : home) + "/.config";
    std::string prefix = AbsoluteEnv("WINEPREFIX");
    if (prefix.empty())
        prefix = (home == "/" ? std::string() : home) + "/.wine";
    Paths paths;
    paths.store = config + "/flowbright/registry.reg";
    paths.lock = paths.store + ".lock";
    paths.winePrefix = prefix;
    paths.autostartDir = config + "/autostart";
    return paths;
}

std::unique_ptr<IRegKey> FileRegistry::OpenKey(RegRoot root, const std::string& path, bool forWrite,
                                               long* error) {
    if (root == RegRoot::LocalMachine) {
        const auto resolved = m_state->ResolveMachineKey(path);
        if (!resolved) {
            SetError(error, reg::kFileNotFound);
            return nullptr;
        }
        if (forWrite) {
            SetError(error, reg::kAccessDenied);
            return nullptr;
        }
        SetError(error, reg::kSuccess);
        return std::make_unique<FileRegKey>(m_state, root, *resolved, false);
    }
    const std::string normalized = NormalizeRegistryPath(path);
    if (!m_state->UserKeyExists(normalized)) {
        SetError(error, reg::kFileNotFound);
        return nullptr;
    }
    SetError(error, reg::kSuccess);
    return std::make_unique<FileRegKey>(m_state, root, normalized, forWrite);
}

std::unique_ptr<IRegKey> FileRegistry::CreateKey(RegRoot root, const std::string& path,
                                                 long* error) {
    if (root == RegRoot::LocalMachine) {
        SetError(error, reg::kAccessDenied);
        return nullptr;
    }
    const std::string normalized = NormalizeRegistryPath(path);
    if (!m_state->UserKeyExists(normalized)) {
        const long created = m_state->Modify([normalized](RegHive& hive, bool& changed) {
            if (!hive.KeyExists(normalized)) {
                hive.CreateKey(normalized, std::time(nullptr));
                changed = true;
            }
            return reg::kSuccess;
        });
        if (created != reg::kSuccess) {
            SetError(error, created);
            return nullptr;
        }
    }
    SetError(error, reg::kSuccess);
    return std::make_unique<FileRegKey>(m_state, root, normalized, true);
}

} // namespace fb::linux_impl
