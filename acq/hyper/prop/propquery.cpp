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

#define CC_ACQ_BASE_PAIR(Class, name)                     \
    Class* ccAcqPropertyQuery::name() { return nullptr; } \
    Class& ccAcqPropertyQuery::name##Ref() { refuse(); }
CC_ACQ_PROPERTY_PAIRS(CC_ACQ_BASE_PAIR)
#undef CC_ACQ_BASE_PAIR
