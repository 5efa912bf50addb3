#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace clipfile {

// Little-endian values at a pointer the caller has already checked.
inline std::uint16_t ReadLe16(const std::uint8_t* in) {
    return static_cast<std::uint16_t>(in[0] | (in[1] << 8));
}
inline std::uint32_t ReadLe32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
           (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}
inline void WriteLe16(std::uint8_t* out, std::uint16_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void WriteLe32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

inline std::uint64_t ReadLe64(const std::uint8_t* in) {
    return ReadLe32(in) | (static_cast<std::uint64_t>(ReadLe32(in + 4)) << 32);
}
inline void WriteLe64(std::uint8_t* out, std::uint64_t value) {
    WriteLe32(out, static_cast<std::uint32_t>(value));
    WriteLe32(out + 4, static_cast<std::uint32_t>(value >> 32));
}

// A cursor over bytes that reads little-endian values. A read past the end
// fails and leaves the value as it was, and so does every read after it.
class LeReader {
public:
    explicit LeReader(std::span<const std::uint8_t> bytes, std::size_t offset = 0)
        : bytes_(bytes), at_(offset) {}

    bool ReadU16(std::uint16_t& value) {
        if (!Fits(2)) return false;
        value = ReadLe16(bytes_.data() + at_);
        at_ += 2;
        return true;
    }
    bool ReadU32(std::uint32_t& value) {
        if (!Fits(4)) return false;
        value = ReadLe32(bytes_.data() + at_);
        at_ += 4;
        return true;
    }
    bool ReadS32(std::int32_t& value) {
        std::uint32_t raw = 0;
        if (!ReadU32(raw)) return false;
        value = static_cast<std::int32_t>(raw);
        return true;
    }
    // Whether every read so far lay within the bytes.
    bool ok() const { return !failed_; }

private:
    bool Fits(std::size_t count) {
        failed_ = failed_ || at_ > bytes_.size() || count > bytes_.size() - at_;
        return !failed_;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t at_;
    bool failed_ = false;
};

// The writing counterpart: from a write past the end on, nothing is written.
class LeWriter {
public:
    explicit LeWriter(std::span<std::uint8_t> bytes, std::size_t offset = 0)
        : bytes_(bytes), at_(offset) {}

    bool WriteU16(std::uint16_t value) {
        if (!Fits(2)) return false;
        WriteLe16(bytes_.data() + at_, value);
        at_ += 2;
        return true;
    }
    bool WriteU32(std::uint32_t value) {
        if (!Fits(4)) return false;
        WriteLe32(bytes_.data() + at_, value);
        at_ += 4;
        return true;
    }
    bool WriteS32(std::int32_t value) { return WriteU32(static_cast<std::uint32_t>(value)); }
    bool ok() const { return !failed_; }

private:
    bool Fits(std::size_t count) {
        failed_ = failed_ || at_ > bytes_.size() || count > bytes_.size() - at_;
        return !failed_;
    }

    std::span<std::uint8_t> bytes_;
    std::size_t at_;
    bool failed_ = false;
};

}  // namespace clipfile
