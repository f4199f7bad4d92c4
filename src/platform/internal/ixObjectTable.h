#pragma once
// A thread-safe table of shared objects keyed by handle value (internal to the platform layer).

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace ix::os::internal {

template <typename T>
class TObjectTable
{
public:
    using TObjectPtr = std::shared_ptr<T>;

    void Add(uintptr_t AKey, TObjectPtr AObject)
    {
        std::lock_guard lock(FLock);
        FObjects.emplace(AKey, std::move(AObject));
    }

    /// The object of AKey, or null.
    TObjectPtr Find(uintptr_t AKey) const
    {
        std::lock_guard lock(FLock);
        const auto it = FObjects.find(AKey);
        return it == FObjects.end() ? nullptr : it->second;
    }

    /// Takes the object of AKey out of the table (null when absent); it dies with the caller's
    /// last reference, outside the table's lock.
    TObjectPtr Remove(uintptr_t AKey)
    {
        std::lock_guard lock(FLock);
        const auto it = FObjects.find(AKey);
        if (it == FObjects.end())
            return nullptr;
        TObjectPtr removed = std::move(it->second);
        FObjects.erase(it);
        return removed;
    }

    /// Takes every object that APredicate accepts out of the table.
    template <typename TPredicate>
    std::vector<TObjectPtr> RemoveIf(TPredicate APredicate)
    {
        std::vector<TObjectPtr> removed;
        std::lock_guard lock(FLock);
        for (auto it = FObjects.begin(); it != FObjects.end();)
        {
            if (APredicate(*it->second))
            {
                removed.push_back(std::move(it->second));
                it = FObjects.erase(it);
            }
            else
                ++it;
        }
        return removed;
    }

private:
    mutable std::mutex FLock;
    std::unordered_map<uintptr_t, TObjectPtr> FObjects;
};

} // namespace ix::os::internal
