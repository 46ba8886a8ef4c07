#pragma once

#include "DataLink.h"

#include <algorithm>
#include <exception>
#include <type_traits>
#include <utility>
#include <vector>

// The watchers of a record set, or the controls of a data source, told of each notification in
// turn. Notifications come for every step of a walk over all records, so telling them copies and
// allocates nothing. Those present when a notification starts are told, in the order they came; a
// watcher that leaves (or makes another leave) while they are told is not told again: its place
// is emptied and the list closed up once the outermost notification is over.
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
        const auto at = std::find(m_links.begin(), m_links.end(), link);
        if (at == m_links.end())
            return;
        if (m_telling > 0) {
            *at = nullptr;
            m_holes = true;
        } else {
            m_links.erase(at);
        }
    }

    void clear()
    {
        if (m_telling > 0) {
            std::fill(m_links.begin(), m_links.end(), nullptr);
            m_holes = true;
        } else {
            m_links.clear();
        }
    }

    // Every watcher is told, even when one fails (a control that misses its field must not leave
    // the others unaware that the record set opened); the first failure is raised once all were
    // told. Update record alone stops at the first failure: a typed text that cannot be written
    // ends the settle or post that asked for it.
    template <typename Method, typename... Args> void tell(Method method, Args &&...args)
    {
        const Telling telling(*this);
        std::exception_ptr failure;
        const size_t count = m_links.size(); // those who join meanwhile wait for the next one
        for (size_t i = 0; i < count; ++i) {
            DataLink *link = m_links[i];
            if (!link)
                continue;
            if (stopsAtFailure(method)) {
                (link->*method)(args...);
                continue;
            }
            try {
                (link->*method)(args...);
            } catch (...) {
                if (!failure)
                    failure = std::current_exception();
            }
        }
        if (failure)
            std::rethrow_exception(failure);
    }

private:
    template <typename Method> static bool stopsAtFailure(Method method)
    {
        if constexpr (std::is_same_v<Method, void (DataLink::*)()>)
            return method == &DataLink::updateRecord;
        else
            return false;
    }

    // Counts nested notifications, also when a watcher's failure ends one early.
    class Telling
    {
    public:
        explicit Telling(DataLinks &links) : m_links(links) { ++m_links.m_telling; }
        ~Telling()
        {
            if (--m_links.m_telling == 0 && m_links.m_holes) {
                auto &list = m_links.m_links;
                list.erase(std::remove(list.begin(), list.end(), nullptr), list.end());
                m_links.m_holes = false;
            }
        }
        Telling(const Telling &) = delete;
        Telling &operator=(const Telling &) = delete;

    private:
        DataLinks &m_links;
    };

    std::vector<DataLink *> m_links;
    int m_telling = 0;
    bool m_holes = false;
};
