#include "flash_layout.h"

#include "sandbox.h"


std::string laid_out(const std::string &text, size_t end)
{
    std::string img = text;
    for (size_t k = text.size(); k < end; ++k)
        img += k % 4 == 3 ? '\xff' : '\0';
    return img;
}

std::string laid_out_erased_backup(const std::string &text)
{
    return laid_out(text, backup_at) + std::string(262144 - backup_at, '\xff');
}

namespace {

std::string be32(uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

uint32_t get32(const std::string &s, size_t at)
{
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

const std::string magic = "\x9e\x0c\x43\x71", legacy_magic = "\x9e\x0c\x42\x71";

// CRC-32 (as zlib and Ethernet have it), table-driven.
uint32_t crc32_of(const std::string &s)
{
    static uint32_t table[256];
    if (!table[1])
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : s)
        crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// A record's bytes up to its padding.
std::string record_head_and_text(const std::string &m, const std::string &text, uint32_t seq)
{
    const std::string covered = be32(seq) + be32(static_cast<uint32_t>(text.size())) + text;
    std::string rec = m + covered.substr(0, 8) + be32(crc32_of(covered)) + text;
    return rec + std::string((4 - rec.size() % 4) % 4, '\xff');
}

} // namespace

std::string backup_record(const std::string &text, uint32_t seq, bool finished)
{
    return record_head_and_text(magic, text, seq) + std::string(4, finished ? '\0' : '\xff');
}

std::string legacy_record(const std::string &text, uint32_t seq)
{
    return record_head_and_text(legacy_magic, text, seq);
}

std::string newest_backup(const std::string &partition)
{
    std::string newest = "<none>";
    for (size_t at = backup_at; at + 16 <= 262144;) {
        const std::string m = partition.substr(at, 4);
        if (m != magic && m != legacy_magic)
            break;
        const uint32_t len = get32(partition, at + 8);
        const size_t size = 16 + (len + 3) / 4 * 4 + (m == magic ? 4 : 0);
        if (len > 262144 - at - 16 || at + size > 262144)
            break;
        const std::string text = partition.substr(at + 16, len);
        const size_t body = size - (m == magic ? 4 : 0);
        if (record_head_and_text(m, text, get32(partition, at + 4)) != partition.substr(at, body))
            break;
        newest = text;
        if (m == magic && partition.compare(at + size - 4, 4, "\xff\xff\xff\xff") != 0)
            newest += " (finished)";
        at += size;
    }
    return newest;
}

std::string shipped_defaults()
{
    const std::string sim = SIM_SANDBOX;
    return read_host_file(sim.substr(0, sim.rfind('/')) + "/default_config");
}
