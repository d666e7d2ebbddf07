// The command operations: the one place where the host's command texts are
// written. Fields are separated by single blanks, text fields are in single
// quotes, numbers are decimal; inserted texts go out as they are.
#include "quon/script/command_text.h"
#include "quon/script/atoi_value.h"
#include "quon/script/decode_quon_string.h"
#include "quon_message_types.h"
#include "quon/script/quon_script_helper.h"

char* quon_script_helper::send(const char* text) {
    return host ? host->callback(const_cast<char*>(text), QUON_MSG_COMMAND) : nullptr;
}

void quon_script_helper::handBack(char* reply) {
    if (host) host->callback(reply, QUON_MSG_RELEASE);
}

bool quon_script_helper::panelShow(const quon_string& panel, const quon_string& layout, const quon_string& extra) {
    command_text text;
    text << "PS '" << panel << "' '";
    if (path.length() > 0) text << path << "/";
    text << layout << "'";
    if (extra.length() > 0) text.quoted(extra);
    if (!host) return true;
    return send(text.text()) != nullptr;
}

void quon_script_helper::textPut(const quon_string& property, const quon_string& value, const quon_string& panel,
                                 const quon_string& control) {
    if (!host) return;
    command_text text;
    text << "TP '" << property << "=" << value << "'";
    text.quoted(panel).quoted(control);
    send(text.text());
}

void quon_script_helper::textGet(const quon_string& property, const quon_string& panel, const quon_string& control,
                                 quon_string& value) {
    if (!host) {
        value = "";
        return;
    }
    command_text text;
    text << "TG '" << panel << "'";
    text.quoted(control).quoted(property);
    char* reply = send(text.text());
    if (!reply) {
        value = "";
        return;
    }
    const quon_string replyText(reply);
    handBack(reply);
    if (property == "all") {
        value = replyText;
        return;
    }
    quon_string key;
    quon_string rest;
    replyText.split('=', key, rest);
    if (key == static_cast<const char*>(property)) {
        value = rest;
        return;
    }
    debug(
        "textGet: value returned \"%1\" was not the value requested \"%2\" (value returned was \"%3\" from control "
        "\"%4\", on panel \"%5\")",
        key, property, replyText, control, panel);
    value = "";
}

void quon_script_helper::hostNotify(const quon_string& notification) {
    if (!host) return;
    command_text text;
    text << "HN '" << notification << "'";
    send(text.text());
}

bool quon_script_helper::getDev(quon_string instance, int* device, int* index) {
    if (device) *device = 0;
    if (index) *index = 0;
    if (!host) return false;
    command_text text;
    text << "SD '" << instance << "'";
    char* reply = send(text.text());
    if (!reply) return false;
    {
        const decodeQUONString tokens(reply, '\'');
        if (device) *device = atoiValue(tokens.tokens[0]);
        if (index) *index = atoiValue(tokens.tokens[1]);
    }
    handBack(reply);
    return true;
}

quon_stringlist quon_script_helper::getIdList(const quon_string& panel, const quon_string& prefix) {
    if (!host) return quon_stringlist();
    command_text text;
    text << "XI '" << panel << "'";
    text.quoted(prefix);
    char* reply = send(text.text());
    if (!reply) return quon_stringlist();
    const quon_stringlist ids(quon_string(reply), ',');
    handBack(reply);
    return ids;
}

void quon_script_helper::routerName(int device, int database, int index, quon_string& name) {
    if (!host) return;
    command_text text;
    text << "RN " << device << " " << database << " " << index;
    char* reply = send(text.text());
    if (reply) name = reply;
    // Handed back also when null: the host ignores a null hand-back.
    handBack(reply);
}

void quon_script_helper::routerRegister(int device, int first, int last, bool add) {
    if (!host) return;
    command_text text;
    text << "RR " << device << " " << first << " " << last;
    if (add) text << " 'ADD'";
    send(text.text());
}

void quon_script_helper::routerUnregister(int device) {
    if (!host) return;
    command_text text;
    text << "RU " << device;
    send(text.text());
}

void quon_script_helper::routerPoll(int device, int first, int last) {
    if (!host) return;
    command_text text;
    text << "RP " << device << " " << first << " " << last;
    send(text.text());
}

void quon_script_helper::timerStart(int id, int interval) {
    if (!host) return;
    command_text text;
    text << "ET " << id;
    if (interval != 0) text << " " << interval;
    send(text.text());
}

void quon_script_helper::timerStop(int id) { timerStart(id, 0); }
