#pragma once

#include "app/contact_list_model.h"
#include "search/search_engine.h"

namespace velmoran {

// The window's contact list as the search reads it.
class ContactRows final : public SearchContacts {
public:
    explicit ContactRows(const ContactListModel& contacts)
        : m_contacts(contacts)
    {
    }
    qsizetype size() const override { return m_contacts.size(); }
    bool isChecked(qsizetype row) const override { return m_contacts.isChecked(row); }
    QString text(qsizetype row) const override { return m_contacts.text(row); }
    // The list only appends rows; a listed row keeps its text.
    quint64 textsVersion() const override { return 0; }

private:
    const ContactListModel& m_contacts;
};

} // namespace velmoran
