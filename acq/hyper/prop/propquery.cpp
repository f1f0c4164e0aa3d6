#include "acq/hyper/prop/propquery.h"

#include <typeinfo>

namespace {

// The text reaches clients' error reports, which expect this wording.
class BadCast : public std::bad_cast {
public:
    const char* what() const noexcept override { return "bad cast"; }
};

} // namespace

ccAcqPropertyQuery::~ccAcqPropertyQuery() = default;

void ccAcqPropertyQuery::refuse() { throw BadCast(); }

ccSyncProp* ccAcqPropertyQuery::syncProp() { return nullptr; }
ccSyncProp& ccAcqPropertyQuery::syncPropRef() { refuse(); }
