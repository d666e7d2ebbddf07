// quon_stringlist: an ordered list of texts, and its forward iterator.
#ifndef QUON_STRINGLIST_H
#define QUON_STRINGLIST_H

#include "quon_string.h"

class QUON_STRING_API quon_stringlistIterator {
public:
    explicit quon_stringlistIterator(const quon_string* item) : item_(item) {}

    const quon_string& operator*() const { return *item_; }
    quon_stringlistIterator& operator++() {
        ++item_;
        return *this;
    }
    bool operator!=(const quon_stringlistIterator& other) const { return item_ != other.item_; }
    bool operator==(const quon_stringlistIterator& other) const { return item_ == other.item_; }

private:
    const quon_string* item_;  // into the list's items; valid while the list is unchanged
};

class QUON_STRING_API quon_stringlist {
public:
    quon_stringlist();
    // The items of `text` separated by `sep`; empty items are kept. An
    // empty text gives an empty list.
    quon_stringlist(const quon_string& text, char sep);
    quon_stringlist(const quon_stringlist& other);
    quon_stringlist& operator=(const quon_stringlist& other);
    virtual ~quon_stringlist();

    quon_stringlist& operator<<(const quon_string& item);

    // All items joined by `sep`; an empty list gives an empty text.
    quon_string toString(char sep) const;

    quon_stringlistIterator begin() const { return quon_stringlistIterator(items_); }
    quon_stringlistIterator end() const { return quon_stringlistIterator(items_ + count_); }

private:
    void grow();

    quon_string* items_;  // owned array of capacity_ items, first count_ in use
    unsigned count_;
    unsigned capacity_;
};

#endif
