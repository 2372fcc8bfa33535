#include "core/callerid/sources/SipRingPlaces.h"

#include <QHash>

#include <algorithm>

uint64_t SipRingPlaces::placeToFree(const QByteArray &sender) const
{
    QHash<QByteArray, size_t> held;
    for (const Place &p : m_places)
        ++held[p.sender];
    QByteArray loser;
    if (held.value(sender) >= PerSender)
        loser = sender;
    else if (m_places.size() >= Total) {
        size_t most = 0;
        for (const Place &p : m_places) {
            // The first met of the senders holding most: the one whose
            // call is oldest.
            if (held.value(p.sender) > most) {
                most = held.value(p.sender);
                loser = p.sender;
            }
        }
    } else {
        return 0;
    }
    const auto oldest
        = std::find_if(m_places.begin(), m_places.end(), [&](const Place &p) { return p.sender == loser; });
    return oldest == m_places.end() ? 0 : oldest->id;
}

uint64_t SipRingPlaces::take(const QByteArray &sender)
{
    m_places.push_back({ m_nextId, sender });
    return m_nextId++;
}

void SipRingPlaces::release(uint64_t id)
{
    const auto found = std::find_if(m_places.begin(), m_places.end(), [id](const Place &p) { return p.id == id; });
    if (found != m_places.end())
        m_places.erase(found);
}
