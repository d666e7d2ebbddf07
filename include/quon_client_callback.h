// The two-way interface between a panel host and a script component.
//
// Both sides implement it: the host delivers typed messages to the
// component through the component's `callback`, and the component sends
// command texts (and hands back replies) through the host's `callback`.
// The meaning of `data` for each `type` is given in quon_message_types.h.
//
// Threading: every call into a component and every call into the host
// happens on the host's one thread, one at a time. A component may call
// its host from inside a call it is handling; the host never calls into a
// component while any component is inside a call to the host.
//
// Lifetime: the host owns each component from the moment the module's
// load_quon_client_script returns it until the host deletes it; the host's
// callback object outlives every component created with it.
#ifndef QUON_CLIENT_CALLBACK_H
#define QUON_CLIENT_CALLBACK_H

class quon_client_callback {
public:
    virtual ~quon_client_callback() {}

    // Delivers one message. `data` is valid only during the call unless
    // the message type says otherwise. Returns a text or null; a non-null
    // text returned for type 3 belongs to the receiver, which releases it
    // when it is handed back with type 5.
    virtual char* callback(void* data, int type) = 0;

    quon_client_callback(const quon_client_callback&) = delete;
    quon_client_callback& operator=(const quon_client_callback&) = delete;

protected:
    quon_client_callback() {}
};

#endif
