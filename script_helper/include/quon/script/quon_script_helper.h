// quon_script_helper: the base class of every script component.
//
// It binds the component to the host: the dispatcher turns each host
// message into a call of one of the virtual handlers below, and the command
// operations build the host's command texts, send them and read the
// replies. Components speak in these operations, never in command texts.
// Nothing thrown inside ever leaves `callback`.
#ifndef QUON_SCRIPT_HELPER_H
#define QUON_SCRIPT_HELPER_H

#include "quon/script/notify.h"
#include "quon_client_callback.h"
#include "quon_string.h"
#include "quon_stringlist.h"

class quon_script_helper : public quon_client_callback {
public:
    // `host` is not owned and must outlive the component; `path` (the
    // folder of panel layout files) is copied.
    quon_script_helper(quon_client_callback* host, const char* path);
    // Sends "AS", the component's last command, when a host is linked;
    // not for a component of createForHost whose construction failed.
    ~quon_script_helper() override;

    quon_script_helper(const quon_script_helper&) = delete;
    quon_script_helper& operator=(const quon_script_helper&) = delete;

    // Creates the component a module's export hands to the host: a
    // `Component` (derived from this class) built from `host` and `path`;
    // the host owns it from then on. Null when it cannot be created, and
    // nothing thrown gets out. A construction that fails sends nothing
    // more, not even "AS": the host never had the component. Components
    // are created on one thread at a time, as the host calls the export.
    template <class Component>
    static quon_client_callback* createForHost(quon_client_callback* host, const char* path) noexcept;

    // The dispatcher: message types 1 to 7 from the host. Returns null for
    // every type but 3, whose result is a text owned by the module until
    // the host hands it back with type 5.
    char* callback(void* data, int type) override;

    // Handlers, one per message family.
    virtual void buttonCallback(buttonNotify* notify) = 0;
    virtual int revertiveCallback(revertiveNotify* notify) = 0;
    virtual quon_string parentCallback(parentNotify* notify) = 0;
    virtual void valueCallback(int* value);
    virtual void timerCallback(int id) = 0;
    virtual void databaseCallback(databaseNotify* notify);

    // Panels, control properties, parent notification and lookups.
    bool panelShow(const quon_string& panel, const quon_string& layout, const quon_string& extra);
    void textPut(const quon_string& property, const quon_string& value, const quon_string& panel,
                 const quon_string& control);
    void textGet(const quon_string& property, const quon_string& panel, const quon_string& control, quon_string& value);
    void hostNotify(const quon_string& text);
    bool getDev(quon_string instance, int* device, int* index);
    quon_stringlist getIdList(const quon_string& panel, const quon_string& prefix);
    void debug(const quon_string& format, const quon_string& a1 = quon_string(), const quon_string& a2 = quon_string(),
               const quon_string& a3 = quon_string(), const quon_string& a4 = quon_string(),
               const quon_string& a5 = quon_string(), const quon_string& a6 = quon_string(),
               const quon_string& a7 = quon_string(), const quon_string& a8 = quon_string(),
               const quon_string& a9 = quon_string());

    // Routers and timers.
    void routerName(int device, int database, int index, quon_string& name);
    void routerRegister(int device, int first, int last, bool add);
    void routerUnregister(int device);
    void routerPoll(int device, int first, int last);
    void timerStart(int id, int interval);
    void timerStop(int id);

    // The size of one of a device's databases, read from its device file;
    // 0 when it cannot be read. Needs no host.
    int databaseSize(int device, int database);

    // Applies an alarm action to every alarm control ("alm_...") of panel
    // "1"; used by the alarm filter when `alarmHandling` is on.
    void alarmAction(const quon_string& action);

protected:
    quon_client_callback* host;  // not owned; null means nothing is sent
    quon_string path;
    bool alarmHandling;

private:
    // The steps of createForHost: the next base constructed belongs to the
    // component to hand over; once it is built it is handed over; or its
    // construction failed.
    static void expectHandOver();
    static void completeHandOver(quon_script_helper* component);
    static void cancelHandOver();

    // True while a component of createForHost is being built: the host
    // does not have it yet and is owed no "AS".
    bool awaitingHandOver;

    char* send(const char* text);  // the reply is the host's, or null
    void handBack(char* reply);
    // True when the alarm filter took the event.
    bool filterAlarmEvent(const buttonNotify& event);
    char* dispatch(void* data, int type);
};

template <class Component>
quon_client_callback* quon_script_helper::createForHost(quon_client_callback* host, const char* path) noexcept {
    expectHandOver();
    try {
        Component* component = new Component(host, path);
        completeHandOver(component);
        return component;
    } catch (...) {
        cancelHandOver();
        return nullptr;
    }
}

#endif
