#include "std/pelbuf/pelpackage.h"

#include <mutex>

#include "std/pelbuf/pelroot.h"

typedef std::lock_guard<ccCriticalSection> Locked;

cc_PelPackage::cc_PelPackage(cc_PelPackageRegistry* registry) : registry_(registry)
{
    if (registry_)
        registry_->add(this);
}

cc_PelPackage::~cc_PelPackage()
{
    if (registry_)
        registry_->remove(this);
}

cc_PelPackageRegistry::~cc_PelPackageRegistry()
{
    Locked hold(lock_); // recursive: each package's destructor takes it again
    while (!packages_.empty()) {
        cc_PelPackage* p = packages_.front();
        if (cc_PelRoot* root = p->root())
            root->detachPackage();
        delete p;
    }
}

size_t cc_PelPackageRegistry::count() const
{
    Locked hold(lock_);
    return packages_.size();
}

void cc_PelPackageRegistry::add(cc_PelPackage* package)
{
    Locked hold(lock_);
    packages_.push_back(package);
}

void cc_PelPackageRegistry::remove(cc_PelPackage* package)
{
    Locked hold(lock_);
    packages_.remove(package);
}
