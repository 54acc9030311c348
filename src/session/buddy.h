#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "member_numbers.h"

namespace kolvena {

enum class BuddyState : std::int8_t { Joined = 0, Awake = 101, Asleep = 102, Left = 105 };
enum class BuddyRole : std::uint8_t { Leader = 1, Member = 2 };

inline constexpr std::size_t NAME_SIZE = 20;
inline constexpr std::size_t TOPIC_SIZE = 40;
inline constexpr std::size_t ADDRESS_SIZE = 16;

// One member. Its 60-byte wire record is also how it is stored: a record received from the host
// is kept byte for byte, unknown state values and the meaningless bytes included.
struct Buddy {
    static constexpr std::size_t RECORD_SIZE = 60;

    std::array<char, 4> reserved{};
    std::array<char, NAME_SIZE> name{};
    std::uint32_t id = 0; // BuddyID; only the low 16 bits travel in other packets
    BuddyState state = BuddyState::Joined;
    BuddyRole role = BuddyRole::Member;
    std::uint8_t olFlag = 0;
    std::uint8_t padding = 0;
    std::uint32_t joinTime = 0;
    std::uint32_t leaveTime = 0;
    std::uint16_t sayCount = 0;
    std::uint16_t messageCount = 0;
    std::array<char, ADDRESS_SIZE> address{};

    // A new record; the name (GBK) is cut to 20 bytes without splitting a character.
    static Buddy Make(std::string_view name, std::string_view address, BuddyRole role);

    // The name as GBK bytes: up to its NUL, at most 20 bytes.
    std::string_view Name() const;
    void SetName(std::string_view name);
    // The dotted address text, up to its NUL.
    std::string_view Address() const;

    bool IsPresent() const { return state < BuddyState::Left; }
    // The BuddyID as other packets carry it: its low 16 bits.
    BuddyId Id() const { return static_cast<std::uint16_t>(id); }

    std::string Encode() const;
    // Reads the first 60 bytes; nothing when fewer are there.
    static std::optional<Buddy> Decode(std::string_view bytes);
};

} // namespace kolvena
