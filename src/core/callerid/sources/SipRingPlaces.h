#pragma once

#include <QByteArray>

#include <cstdint>
#include <deque>

// The calls the SIP agent keeps ringing, shared fairly among their senders (a
// sender: the source address and the From host). Each sender holds at most
// PerSender places and all together Total; a newcomer always gets a place:
// its own sender's oldest call gives one up, or, when every place is taken,
// the oldest call of the sender holding most. A flood from one sender so
// only ever pushes out its own calls.
class SipRingPlaces
{
public:
    static constexpr size_t Total = 64;
    static constexpr size_t PerSender = 16;

    // The place `sender` needs freed before it may take one; 0 while there
    // is room.
    uint64_t placeToFree(const QByteArray &sender) const;
    // A place for `sender`, assumed free (see placeToFree); its id.
    uint64_t take(const QByteArray &sender);
    void release(uint64_t id);
    size_t size() const { return m_places.size(); }

private:
    struct Place
    {
        uint64_t id;
        QByteArray sender;
    };
    std::deque<Place> m_places; // oldest first
    uint64_t m_nextId = 1;
};
