// Persistent test classes for the object-table tests: graph nodes that hold
// pointers to other nodes, and a class of another kind.
#pragma once
#include <cstdint>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "std/except/archutil.h"
#include "std/except/persist.h"
#include "std/except/startup.h"

namespace archutil_support {

// A graph node: a value and pointers to other nodes (shared, cyclic or
// null). Every node is listed while it lives, so that a test can free what
// a failed load left and count what is alive. A node whose value is
// failValue raises ccArchive::BadFile right after its value, in both
// directions.
class Node : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccTestNode";
    static ccPersistent* cmCreate() { return new (std::nothrow) Node; }
    static constexpr int32_t failValue = -999;
    static constexpr uint32_t maxLinks = 16;

    explicit Node(int32_t v = 0) : value(v)
    {
        std::lock_guard<std::mutex> hold(lock());
        all().insert(this);
    }
    ~Node() override
    {
        std::lock_guard<std::mutex> hold(lock());
        all().erase(this);
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    const char* storedTypeName() const override { return kStoredName; }

    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(Node)))
            return;
        ccArchiveVersion(ar, 0, "ccTestNode", 0);
        ccPersistent::archive(ar);
        ar.archive(value);
        if (value == failValue)
            throw ccArchive::BadFile("node", 1);
        uint32_t count = static_cast<uint32_t>(links.size());
        ar.archive(count);
        if (ar.isLoading()) {
            if (count > maxLinks)
                throw ccArchive::BadContent("node", 2);
            links.assign(count, nullptr);
        }
        for (Node*& link : links)
            archivePointer(ar, link, link);
        ccArchiveVisit::end(this, typeid(Node));
    }

    static std::set<Node*>& all()
    {
        static std::set<Node*> nodes;
        return nodes;
    }
    static std::mutex& lock()
    {
        static std::mutex m;
        return m;
    }
    // Frees every node still alive.
    static void freeAll()
    {
        std::set<Node*> left;
        {
            std::lock_guard<std::mutex> hold(lock());
            left = all();
        }
        for (Node* n : left)
            delete n;
    }

    int32_t value;
    std::vector<Node*> links;
};

// A persistent class that is not a node.
class Other : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccTestOther";
    static ccPersistent* cmCreate() { return new (std::nothrow) Other; }
    static int live;

    Other() { ++live; }
    ~Other() override { --live; }
    const char* storedTypeName() const override { return kStoredName; }

    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(Other)))
            return;
        ccArchiveVersion(ar, 0, "ccTestOther", 0);
        ccPersistent::archive(ar);
        ar.archive(text);
        ccArchiveVisit::end(this, typeid(Other));
    }

    std::wstring text;
};
inline int Other::live = 0;

inline void setUpTypes()
{
    ccStdExceptStartup();
    static const bool registered = [] {
        ccRegisterPersistent<Node>();
        ccRegisterPersistent<Other>();
        return true;
    }();
    (void)registered;
}

} // namespace archutil_support
