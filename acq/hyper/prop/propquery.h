// How a client asks for one property of a FIFO: the FIFO's property object
// when the board says the FIFO supports it, otherwise nothing. Each property
// class has a pair of questions, the pointer form (null for nothing) and the
// reference form (std::bad_cast for nothing); here every pointer form
// answers null and every reference form refuses.
#pragma once

class ccSyncProp;

class ccAcqPropertyQuery {
public:
    ccAcqPropertyQuery(const ccAcqPropertyQuery&) = delete;
    ccAcqPropertyQuery& operator=(const ccAcqPropertyQuery&) = delete;
    virtual ~ccAcqPropertyQuery();

    virtual ccSyncProp* syncProp();
    virtual ccSyncProp& syncPropRef();

protected:
    ccAcqPropertyQuery() = default;

    // A std::bad_cast whose text is "bad cast".
    [[noreturn]] static void refuse();
};
