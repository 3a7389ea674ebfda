#include "platform/linux/Registry.h"

#include "platform/linux/RegistryAutostart.h"
#include "platform/linux/RegistryText.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <vector>

namespace fb::linux_impl {

namespace {

// Our own store holds a few values; anything near this size is not ours.
constexpr std::size_t kStoreLimit = 64u << 20;
// Wine's hives grow to tens of megabytes with many programs installed.
constexpr std::size_t kHiveLimit = 512u << 20;

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

struct FileRegistry::State {
    State(Paths paths, std::shared_ptr<RegistryFileOps> ops)
        : paths(std::move(paths))
        , ops(ops ? std::move(ops) : std::make_shared<RegistryFileOps>())
        , autostart(this->paths.autostartDir, this->ops) {}

    Paths paths;
    std::shared_ptr<RegistryFileOps> ops;
    RegistryAutostart autostart;
    std::mutex mutex; // guards the caches below
    CachedHive userHive;
    CachedHive systemHive;

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

    // Our store as it is now. A store that cannot be parsed is set aside and reads as empty.
    RegHive Store() {
        FileContent content = ReadWholeFile(paths.store, kStoreLimit);
        RegHive hive;
        if (content.status == ReadStatus::Ok && content.text.empty())
            return hive;
        if (content.status == ReadStatus::Ok &&
            !ParseRegistryText(content.text, hive, RegParseMode::Strict))
            return hive;
        if (content.status == ReadStatus::Ok || content.status == ReadStatus::TooLarge) {
            RegistryLock lock(paths.lock);
            long ignored = 0;
            if (lock.Held())
                LoadForWrite(hive, ignored);
            return RegHive();
        }
        return RegHive(); // missing, or unreadable: defaults
    }

    // ---- Writing (under the lock) ----

    // Reads the store for a change; sets a damaged one aside first. False (with the error) when
    // the store may not be replaced.
    bool LoadForWrite(RegHive& hive, long& error) {
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
                !ParseRegistryText(content.text, hive, RegParseMode::Strict))
                return true;
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

    // Applies `change` to the freshly read store under the lock and writes the result when
    // `change` reports a modification. `change` returns a result code.
    long Modify(const std::function<long(RegHive&, bool& changed)>& change) {
        RegistryLock lock(paths.lock);
        if (!lock.Held())
            return ErrorFromErrno(lock.Error());
        RegHive hive;
        long error = reg::kSuccess;
        if (!LoadForWrite(hive, error))
            return error;
        bool changed = false;
        const long result = change(hive, changed);
        if (result != reg::kSuccess || !changed)
            return result;
        RemoveStaleTemporaries(*ops, paths.store);
        const int written = AtomicReplaceFile(*ops, paths.store, FormatRegistryText(hive), 0600);
        return written == 0 ? reg::kSuccess : ErrorFromErrno(written);
    }

    // ---- Keys ----

    bool UserKeyExists(const std::string& path) {
        return RegistryAutostart::IsAlwaysPresentKey(path) || Store().KeyExists(path) ||
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
        : state_(std::move(state))
        , root_(root)
        , path_(std::move(path))
        , writable_(writable) {}

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
        if (!writable_ || root_ != RegRoot::CurrentUser)
            return reg::kAccessDenied;
        if (data == nullptr && size != 0)
            return reg::kWriteFault;
        if (RegistryAutostart::IsProjectedValue(path_, name)) {
            RegistryLock lock(state_->paths.lock);
            if (!lock.Held())
                return ErrorFromErrno(lock.Error());
            return state_->autostart.Write(type, data, size);
        }
        std::vector<std::uint8_t> bytes(data, data + size);
        return state_->Modify([&](RegHive& hive, bool& changed) {
            const std::int64_t now = std::time(nullptr);
            RegKeyNode& key = hive.CreateKey(path_, now);
            changed = key.Set(name, type, std::move(bytes));
            if (changed)
                key.modified = now;
            return reg::kSuccess;
        });
    }

    long DeleteValue(const std::string& name) override {
        if (!writable_ || root_ != RegRoot::CurrentUser)
            return reg::kAccessDenied;
        if (RegistryAutostart::IsProjectedValue(path_, name)) {
            RegistryLock lock(state_->paths.lock);
            if (!lock.Held())
                return ErrorFromErrno(lock.Error());
            return state_->autostart.Remove();
        }
        return state_->Modify([&](RegHive& hive, bool& changed) {
            RegKeyNode* key = hive.FindKey(path_);
            if (key != nullptr && key->Erase(name)) {
                key->modified = std::time(nullptr);
                changed = true;
                return reg::kSuccess;
            }
            // A value of the Wine prefix shows through, and the prefix is never written.
            const RegKeyNode* wine = state_->UserHive()->FindKey(path_);
            return (wine != nullptr && wine->Find(name) != nullptr) ? reg::kAccessDenied
                                                                    : reg::kFileNotFound;
        });
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
        if (root_ == RegRoot::LocalMachine)
            return take(state_->SystemHive()->FindKey(path_));
        if (RegistryAutostart::IsProjectedValue(path_, name)) {
            const auto commandLine = state_->autostart.Read();
            if (!commandLine)
                return false;
            type = reg::kSz;
            data.assign(commandLine->begin(), commandLine->end());
            data.push_back(0);
            return true;
        }
        const RegHive store = state_->Store();
        return take(store.FindKey(path_)) || take(state_->UserHive()->FindKey(path_));
    }

    std::shared_ptr<FileRegistry::State> state_;
    RegRoot root_;
    std::string path_;
    bool writable_;
};

} // namespace

FileRegistry::FileRegistry(Paths paths, std::shared_ptr<RegistryFileOps> ops)
    : state_(std::make_shared<State>(std::move(paths), std::move(ops))) {}

FileRegistry::~FileRegistry() = default;

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

const FileRegistry::Paths& FileRegistry::GetPaths() const {
    return state_->paths;
}

std::unique_ptr<IRegKey> FileRegistry::OpenKey(RegRoot root, const std::string& path, bool forWrite,
                                               long* error) {
    if (root == RegRoot::LocalMachine) {
        const auto resolved = state_->ResolveMachineKey(path);
        if (!resolved) {
            SetError(error, reg::kFileNotFound);
            return nullptr;
        }
        if (forWrite) {
            SetError(error, reg::kAccessDenied);
            return nullptr;
        }
        SetError(error, reg::kSuccess);
        return std::make_unique<FileRegKey>(state_, root, *resolved, false);
    }
    const std::string normalized = NormalizeRegistryPath(path);
    if (!state_->UserKeyExists(normalized)) {
        SetError(error, reg::kFileNotFound);
        return nullptr;
    }
    SetError(error, reg::kSuccess);
    return std::make_unique<FileRegKey>(state_, root, normalized, forWrite);
}

std::unique_ptr<IRegKey> FileRegistry::CreateKey(RegRoot root, const std::string& path,
                                                 long* error) {
    if (root == RegRoot::LocalMachine) {
        SetError(error, reg::kAccessDenied);
        return nullptr;
    }
    const std::string normalized = NormalizeRegistryPath(path);
    if (!state_->UserKeyExists(normalized)) {
        const long created = state_->Modify([&](RegHive& hive, bool& changed) {
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
    return std::make_unique<FileRegKey>(state_, root, normalized, true);
}

} // namespace fb::linux_impl
