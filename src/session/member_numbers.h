#pragma once

#include <compare>
#include <concepts>
#include <cstdint>

namespace kolvena {

// The two numbers that name a member. They coincide until somebody leaves, which is why mixing
// them up goes unnoticed in a session where nobody has left yet; as distinct types they cannot
// be mixed up at all. Each is made from its 16-bit wire field (or an int such as a literal)
// without ceremony, never from a wider number (a 32-bit record field, a slot or a size), and
// never turns back into a bare number, nor into the other kind, except through value.
template <typename T>
concept MemberNumberSource = std::same_as<T, std::uint16_t> || std::same_as<T, int>;

// A member's position in the whole roster, departed members included, from 1. It never
// changes while the session lasts. Chat senders, notices, renames, sleeps and wakes use it.
struct BuddyId {
    constexpr BuddyId() = default;
    template <MemberNumberSource T>
    constexpr BuddyId(T id) : value(static_cast<std::uint16_t>(id)) {}
    friend constexpr auto operator<=>(BuddyId, BuddyId) = default;
    std::uint16_t value = 0;
};

// A member's position among the members still present, from 1; 0 names nobody (as a target:
// everyone). It moves down by one whenever an earlier member leaves. Targets, departures and
// the parties of a file offer use it.
struct ActiveIndex {
    constexpr ActiveIndex() = default;
    template <MemberNumberSource T>
    constexpr ActiveIndex(T index) : value(static_cast<std::uint16_t>(index)) {}
    friend constexpr auto operator<=>(ActiveIndex, ActiveIndex) = default;
    constexpr bool IsNobody() const { return value == 0; }
    std::uint16_t value = 0;
};

// The leader is always the first member present.
inline constexpr ActiveIndex LEADER_INDEX{1};

} // namespace kolvena
