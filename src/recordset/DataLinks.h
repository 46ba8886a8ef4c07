#pragma once

#include "DataLink.h"

#include <QVarLengthArray>

#include <algorithm>
#include <utility>
#include <vector>

// The watchers of a record set, or the controls of a data source, told of each notification in
// turn. Notifications come for every step of a walk over all records, so telling them allocates
// nothing; a watcher that leaves (or makes another leave) while they are told is not told again.
class DataLinks
{
public:
    void add(DataLink *link)
    {
        if (std::find(m_links.begin(), m_links.end(), link) == m_links.end())
            m_links.push_back(link);
    }

    void remove(DataLink *link)
    {
        const auto before = m_links.size();
        m_links.erase(std::remove(m_links.begin(), m_links.end(), link), m_links.end());
        if (m_links.size() != before)
            ++m_removals;
    }

    void clear() { m_links.clear(); }

    template <typename Method, typename... Args>
    void tell(Method method, Args &&...args)
    {
        const QVarLengthArray<DataLink *, 16> links(m_links.begin(), m_links.end());
        const quint64 removals = m_removals;
        for (DataLink *link : links) {
            if (m_removals != removals &&
                std::find(m_links.begin(), m_links.end(), link) == m_links.end()) {
                continue;
            }
            (link->*method)(args...);
        }
    }

private:
    std::vector<DataLink *> m_links;
    quint64 m_removals = 0;
};
