// The save that every command runs (flash_save: the newline rule, the
// plan, the open for writing, the write, the cache drop) on a model of a
// NOR chip: an erase sets a block to 0xFF, a program can only clear bits
// and covers whole 4-byte bus words, and power can go between any two
// operations or inside one. After every cut the restore (i) must give what
// the command allows: for c the old text or the new one (the defaults too
// only where no backup fits), for d the old text or the defaults, for the
// reset of i and the rewrite after a cut what that i gives. Erases are
// counted.
#include "flash/commands.h"
#include "flash/reading.h"
#include "flash/save.h"
#include "setting_lines.h"

#include "flash_layout.h"
#include "flash_restorer.h"
#include "nor_model.h"
#include "temp_dir.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr size_t block = 65536;

std::string settings(const std::string &tag, size_t bytes)
{
    std::string text = "SYS_CHECK=7340215968\n";
    for (int i = 1; text.size() < bytes; ++i)
        text += "KEY_" + std::to_string(i) + "=" + tag + "-" + std::to_string(i * 37) + "\n";
    return text;
}

std::string with_last_value(std::string text, const std::string &value)
{
    size_t eq = text.rfind('=');
    return text.substr(0, eq + 1) + value + "\n";
}

const std::string defaults_text = settings("factory", 1000);

// The backup area's state before the write: records of this firmware or
// of the last release, no area yet, erased, full, torn at its end.
enum class area { records, legacy, today, erased, full, untidy };

// A partition of 256 KiB whose copy holds `copy`, with the backup area as
// `a` says; a record of `newest` is the last (when it fits), its save
// ended unless `under_way`.
std::string partition(const std::string &copy, area a, const std::string &newest,
                      bool under_way = false)
{
    if (a == area::today)
        return laid_out(copy);
    std::string bytes = laid_out(copy, std::max(copy.size(), backup_at)), recs;
    const auto record = [&](const std::string &text, uint32_t seq, bool finished) {
        return a == area::legacy ? legacy_record(text, seq) : backup_record(text, seq, finished);
    };
    if (a != area::erased) {
        const std::string last = newest.size() + 20 < block ? record(newest, 7, !under_way) : "";
        const size_t room = a == area::full ? block - last.size() - 600 : 1000;
        // Records before the newest hold no marker: they never come back.
        recs = record(settings("older", room - 20).substr(21), 6, true) + last;
        if (a == area::untidy)
            recs += "\x9e\x0c";
    }
    bytes += recs;
    return bytes + std::string(262144 - std::min<size_t>(262144, bytes.size()), '\xff');
}

enum class command { c, d, reset, rewrite };

struct scenario {
    std::string name;
    command cmd;
    std::string old_bytes;  // the partition before
    std::string next;       // the text written
    int erases;             // erases of a whole write
};

const char *area_names[] = {"records", "legacy records", "today's layout", "erased", "full", "untidy"};

std::vector<scenario> scenarios()
{
    std::vector<scenario> all;
    for (size_t size : {1000, 16000, 70000}) {
        const std::string old = settings("old", size), tag = std::to_string(size) + " bytes, ";
        const int blocks = size > block ? 2 : 1;
        const bool fits = size + 16 < block;
        for (area a : {area::records, area::legacy, area::today, area::erased, area::full, area::untidy}) {
            const std::string where = std::string(", area ") + area_names[static_cast<int>(a)];
            const int more = fits && (a == area::today || a == area::full || a == area::untidy);
            const std::string part = partition(old, a, old);
            all.push_back({tag + "c one value" + where, command::c, part,
                           with_last_value(old, "changed"), blocks + more});
            if (a != area::records)
                continue;  // one case per area state is enough for the rest
            all.push_back({tag + "c different count" + where, command::c, part,
                           settings("new", size - 200) + "\n# kept\n", blocks});
            all.push_back({tag + "d" + where, command::d, part, defaults_text, blocks});
            const std::string invalid = "SYS_CHECK=1\n" + old.substr(21);
            all.push_back({tag + "reset of i" + where, command::reset,
                           partition(invalid, a, invalid), defaults_text, blocks});
        }
        // A cut left the copy's markers cleared; the newest record is the text.
        const std::string cleared = "SYS_CHECK=0000000000\n" + old.substr(21);
        const std::string next = settings("next", size);
        if (size + 16 < block)
            all.push_back({tag + "rewrite after a cut", command::rewrite,
                           partition(cleared, area::records, next, true), next, 1});
    }
    // A marker run before the deciding line, a second marker line in block 1.
    std::string decoy = "PHONE=7340215968\n" + settings("d", 70000) + "SYS_CHECK=7340215968\n";
    all.push_back({"markers elsewhere", command::c, partition(decoy, area::records, decoy),
                   "PHONE=7340215968\n" + settings("e", 3000), 2});
    // A marker run in a long line's second piece, which the lookup never
    // judges: the line behind it decides.
    const std::string old16 = settings("old", 16000);
    all.push_back({"marker inside a long line", command::c, partition(old16, area::records, old16),
                   "LONG=" + std::string(250, 'x') + "SYS_CHECK=7340215968\n" + settings("l", 3000),
                   1});
    all.push_back({"one-block partition, no backup area", command::c,
                   laid_out(old16).substr(0, block), settings("new", 20000), 1});
    return all;
}

// What `i` makes of a partition's bytes.
struct restorer : flash_restorer {
    restorer() : flash_restorer(defaults_text) {}
    std::string restore_bytes(const std::string &bytes)
    {
        dir.put("flash", bytes);
        return flash_restorer::restore(dir / "flash");
    }
};

// Saves `text` on the model as a command does: the partition read first.
flash_result save(nor_model &m, const std::string &text)
{
    std::string dev(m.bytes.size(), '\0');
    flash_holes holes;
    heap_text t;
    if (flash_read_all(m, std::span<char>(dev), holes) != 0 || t.append(std::string_view(text)) != 0)
        return {flash_fault::read, EIO, 0, flash_left::old_copy};
    return flash_save(m, flash_geometry_of(m.size(), m.block), std::span<char>(dev), holes, t);
}

bool cut_short(const flash_result &r)
{
    return (r.fault == flash_fault::program || r.fault == flash_fault::erase) && r.err == ECANCELED;
}

// What a restore gives of a copy holding `text`: its lines before the
// first one without "=".
std::string setting_lines(const std::string &text)
{
    size_t at = 0;
    for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        if (text.substr(at, nl - at).find('=') == std::string::npos)
            break;
    return text.substr(0, at);
}

// The restores a cut may leave for the scenario.
std::set<std::string> allowed(const scenario &s, const std::string &old_r, const std::string &new_r,
                              const std::string &defaults_r)
{
    switch (s.cmd) {
    case command::c:
        if (s.next.size() + 20 < block && s.old_bytes.size() > block)
            return {old_r, new_r};
        return {old_r, new_r, defaults_r};
    case command::d: return {old_r, defaults_r};
    default: return {old_r};
    }
}

} // namespace

TEST(flash_save, erases_only_what_changes_and_leaves_what_the_command_allows_at_every_cut)
{
    restorer r;
    const std::string defaults_r = defaults_text;
    for (const scenario &s : scenarios()) {
        SCOPED_TRACE(s.name);
        nor_model whole{s.old_bytes};
        ASSERT_TRUE(save(whole, s.next).ok());
        EXPECT_EQ(whole.refused, "");
        EXPECT_EQ(whole.erases, s.erases);
        const size_t copy_end = whole.bytes.size() > block ? backup_at : block;
        EXPECT_EQ(whole.bytes.substr(0, copy_end), laid_out(s.next, copy_end));
        if (s.next.size() + 20 < block && whole.bytes.size() > block)
            EXPECT_EQ(newest_backup(whole.bytes), s.next + " (finished)");
        const std::string old_r = r.restore_bytes(s.old_bytes), new_r = r.restore_bytes(whole.bytes);
        EXPECT_EQ(new_r, setting_lines(s.next));
        const std::set<std::string> ok = allowed(s, old_r, new_r, defaults_r);
        for (size_t op = 0; op < whole.op_sizes.size(); ++op) {
            const size_t len = whole.op_sizes[op];
            for (size_t at : {size_t{0}, size_t{1}, len / 2, len - 1}) {
                SCOPED_TRACE("cut in operation " + std::to_string(op) + " after " +
                             std::to_string(at) + " of " + std::to_string(len) + " bytes");
                nor_model cut{s.old_bytes};
                cut.cut_op = static_cast<int>(op);
                cut.cut_at = at;
                EXPECT_TRUE(cut_short(save(cut, s.next)));
                EXPECT_EQ(cut.refused, "");
                const std::string got = r.restore_bytes(cut.bytes);
                EXPECT_TRUE(ok.count(got)) << got.substr(0, 200);
            }
        }
    }
}

TEST(flash_save, writes_nothing_when_the_partition_holds_the_text)
{
    const std::string text = settings("same", 16000);
    for (area a : {area::records, area::today}) {
        nor_model m{partition(text, a, text)};
        ASSERT_TRUE(save(m, text).ok());
        EXPECT_TRUE(m.op_sizes.empty()) << area_names[static_cast<int>(a)];
        EXPECT_FALSE(m.opened) << "opened for writing with nothing to write";
    }
}

TEST(flash_save, leaves_no_older_record_behind_an_invalid_text)
{
    // The copy already holds a text without a marker; the newest record is
    // an older valid text whose save a cut ended early, which a later
    // restore must not bring back, and the area has no room for the text's
    // record (nor may it be erased): the record is finished, or, of older
    // firmware, the area's first word cleared.
    restorer r;
    const std::string text = settings("x", 2000).substr(21), older = settings("older", 1000);
    for (area a : {area::full, area::legacy}) {
        SCOPED_TRACE(area_names[static_cast<int>(a)]);
        nor_model m{partition(text, a, older, true)};
        ASSERT_TRUE(save(m, text).ok());
        EXPECT_EQ(newest_backup(m.bytes), a == area::legacy ? "<none>" : older + " (finished)");
        EXPECT_EQ(r.restore_bytes(m.bytes), defaults_text);
    }
}

TEST(flash_save, refuses_a_text_longer_than_the_partition_before_writing)
{
    const std::string old = laid_out(settings("old", 16000)).substr(0, block);
    nor_model m{old};
    EXPECT_EQ(save(m, settings("new", block + 1)).fault, flash_fault::too_long);
    EXPECT_TRUE(m.op_sizes.empty());
    EXPECT_EQ(m.bytes, old);
}

namespace {

// A chip that fails as worn ones do, one row per fault class, and how the
// save must report it.
struct fault_class {
    const char *name;
    void (*apply)(nor_model &);
    bool (*reported_as)(const flash_result &);
};

const fault_class fault_classes[] = {
    {"a copy's first byte whose bit 7 no longer programs",
     [](nor_model &m) { m.stuck_high.push_back({0, 1, 0x80}); },
     [](const flash_result &r) { return r.fault == flash_fault::not_programmed && r.at == 0; }},
    {"an erase that leaves a bit at 0", [](nor_model &m) { m.stuck_low.push_back({100, 101, 1}); },
     [](const flash_result &r) { return r.fault == flash_fault::not_erased && r.at == 100; }},
    {"a chip that fails with EIO from the fourth operation on", [](nor_model &m) { m.eio_op = 3; },
     [](const flash_result &r) {
         return (r.fault == flash_fault::program || r.fault == flash_fault::erase) && r.err == EIO;
     }},
};

// What the command's line on standard error says of a failed save.
std::string reported(const flash_result &r)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    flash_report("/dev/mtdblock4", r);
    testing::internal::GetCapturedStdout();
    return testing::internal::GetCapturedStderr();
}

} // namespace

TEST(flash_save, on_a_failing_chip_says_so_and_leaves_what_the_command_allows)
{
    restorer r;
    const std::string old = settings("old", 3000), next = settings("new", 3000);
    const std::string cleared = "SYS_CHECK=0000000000\n" + old.substr(21);
    const struct {
        const char *name;
        command cmd;
        std::string before, text;
    } operations[] = {
        {"c", command::c, partition(old, area::records, old), next},
        {"d", command::d, partition(old, area::records, old), defaults_text},
        {"reset of i", command::reset, partition("SYS_CHECK=1\n" + old.substr(21), area::records, old),
         defaults_text},
        {"repair after a cut", command::rewrite, partition(cleared, area::records, next, true), next},
    };
    for (const auto &op : operations) {
        nor_model clean{op.before};
        ASSERT_TRUE(save(clean, op.text).ok()) << op.name;
        const std::string old_r = r.restore_bytes(op.before), new_r = r.restore_bytes(clean.bytes);
        const scenario s{op.name, op.cmd, op.before, op.text, 0};
        const std::set<std::string> ok = allowed(s, old_r, new_r, defaults_text);
        for (const fault_class &f : fault_classes) {
            SCOPED_TRACE(std::string(op.name) + ", " + f.name);
            nor_model m{op.before};
            f.apply(m);
            const flash_result res = save(m, op.text);
            ASSERT_FALSE(res.ok());
            EXPECT_TRUE(f.reported_as(res)) << static_cast<int>(res.fault) << " at " << res.at;
            EXPECT_EQ(m.refused, "");
            const std::string line = reported(res);
            EXPECT_EQ(line.rfind("cannot write /dev/mtdblock4: ", 0), 0u) << line;
            EXPECT_NE(line.find(" at offset "), std::string::npos) << line;
            // What the line promises is what the next restore finds.
            const std::string got = r.restore_bytes(m.bytes);
            EXPECT_TRUE(ok.count(got)) << line << got.substr(0, 100);
            if (res.left == flash_left::old_copy)
                EXPECT_EQ(got, old_r) << line;
            if (res.left == flash_left::new_copy)
                EXPECT_EQ(got, new_r) << line;
            // The next restore's repair runs once, in bounded steps, and
            // when the chip fails it again the record still stands.
            const flash_geometry g = flash_geometry_of(m.size(), m.block);
            const flash_reading reading = flash_read(g, std::span<const char>(m.bytes));
            if (reading.from == flash_reading::backup) {
                const std::string record(reading.text.data(), reading.text.size());
                const int ops = m.ops;
                if (!save(m, record).ok()) {
                    const flash_reading again = flash_read(g, std::span<const char>(m.bytes));
                    EXPECT_EQ(again.from, flash_reading::backup);
                    EXPECT_EQ(std::string(again.text.data(), again.text.size()), record);
                }
                EXPECT_LT(m.ops - ops, 64);
                EXPECT_EQ(r.restore_bytes(m.bytes), new_r);
            }
        }
    }
}

namespace {

// Cuts power halfway into each operation that the save of `next` made on
// `whole`, over `before` on a model that `prepare` sets up as `whole` was;
// `allowed` judges what each cut leaves.
template <class Prepare, class Allowed>
void cut_each_operation(const nor_model &whole, const std::string &before, Prepare prepare,
                        const std::string &next, Allowed allowed)
{
    for (size_t op = 0; op < whole.op_sizes.size(); ++op) {
        SCOPED_TRACE("cut in operation " + std::to_string(op));
        nor_model cut{before};
        prepare(cut);
        cut.cut_op = static_cast<int>(op);
        cut.cut_at = whole.op_sizes[op] / 2;
        EXPECT_TRUE(cut_short(save(cut, next)));
        EXPECT_TRUE(allowed(cut));
    }
}

} // namespace

TEST(flash_save, on_a_worn_backup_area_saves_without_a_backup_and_tries_the_area_again)
{
    // A backup area that no erase makes whole again, or whose bits no
    // longer program: the save goes on as for a text too long for the area,
    // says so, and a cut during it leaves the old text, the new one or the
    // defaults. The next save tries the area again.
    restorer r;
    const std::string old = settings("old", 3000), next = settings("new", 3000),
                      later = settings("later", 3000);
    const struct {
        const char *name;
        area before;
        nor_model::stuck worn;
        bool low;  // bits no erase sets, else bits no program clears
        const char *line;
    } rows[] = {
        {"cannot be erased", area::untidy, {backup_at + 100, backup_at + 101, 1}, true,
         "the flash copy /dev/mtdblock4 was saved without a backup: its backup area at offset "
         "196608 cannot be erased\n"},
        {"cannot be programmed", area::records, {backup_at + 4, 262144, 0x80}, false,
         "the flash copy /dev/mtdblock4 was saved without a backup: its backup area at offset "
         "196608 cannot be programmed\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string before = partition(old, row.before, old);
        const auto worn = [&](nor_model &m) { (row.low ? m.stuck_low : m.stuck_high).push_back(row.worn); };
        nor_model m{before};
        worn(m);
        const flash_result res = save(m, next);
        ASSERT_TRUE(res.ok()) << static_cast<int>(res.fault) << " at " << res.at;
        EXPECT_EQ(m.refused, "");
        EXPECT_EQ(reported(res), row.line);
        EXPECT_EQ(r.restore_bytes(m.bytes), next);
        const flash_result again = save(m, later);
        EXPECT_TRUE(again.ok());
        EXPECT_EQ(reported(again), row.line) << "the area was not tried again";
        EXPECT_EQ(r.restore_bytes(m.bytes), later);

        const std::set<std::string> ok = {r.restore_bytes(before), next, defaults_text};
        nor_model whole{before};
        worn(whole);
        save(whole, next);
        cut_each_operation(whole, before, worn, next,
                           [&](const nor_model &cut) { return ok.count(r.restore_bytes(cut.bytes)) > 0; });
    }
}

namespace {

// What a restore gives of the model as it reads it, unreadable pieces and
// all: the copy's lines, the record's, or the defaults.
std::string restore_with_holes(nor_model &m)
{
    std::string dev(m.bytes.size(), '\0');
    flash_holes holes;
    if (flash_read_all(m, std::span<char>(dev), holes) != 0)
        return "<unreadable>";
    const flash_reading r = flash_read(flash_geometry_of(m.size(), m.block), std::span<const char>(dev), holes);
    if (r.from == flash_reading::defaults)
        return defaults_text;
    heap_text lines;
    if (append_setting_lines(r.text, line_source::flash, lines) != 0)
        return "<no memory>";
    return std::string(lines.view());
}

} // namespace

TEST(flash_save, over_a_piece_that_cannot_be_read_changes_only_blocks_it_can_read)
{
    const std::string old = settings("old", 16000), next = with_last_value(old, "changed");
    const struct {
        const char *name;
        size_t from;
        bool saves;
        const char *line;  // on standard error
    } rows[] = {
        {"the fill in a block of its own", block, true, ""},
        {"the fill in the text's block", 32768, false,
         "cannot write /dev/mtdblock4: reading at offset 32768 failed: Input/output error; the "
         "flash copy is left as it was\n"},
        {"the backup area behind its records", backup_at + 8192, true,
         "the flash copy /dev/mtdblock4 was saved without a backup: its backup area at offset "
         "196608 cannot be read\n"},
        {"the copy's text", 4096, false,
         "cannot write /dev/mtdblock4: reading at offset 4096 failed: Input/output error; the "
         "flash copy is left as it was\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string before = partition(old, area::records, old);
        const auto holed = [&](nor_model &m) {
            m.unreadable_from = row.from;
            m.unreadable_to = row.from + flash_piece;
        };
        nor_model m{before};
        holed(m);
        EXPECT_EQ(restore_with_holes(m), old);
        const flash_result res = save(m, next);
        EXPECT_EQ(res.ok(), row.saves);
        EXPECT_EQ(reported(res), row.line);
        EXPECT_EQ(m.refused, "");
        EXPECT_EQ(m.bytes.substr(row.from, flash_piece), before.substr(row.from, flash_piece));
        EXPECT_EQ(restore_with_holes(m), row.saves ? next : old);
        if (!row.saves) {
            EXPECT_TRUE(m.op_sizes.empty());
            continue;
        }
        // With or without a backup (the area cannot be read), the settings
        // are the old ones or the new ones wherever the records can tell.
        cut_each_operation(m, before, holed, next, [&](nor_model &cut) {
            const std::string got = restore_with_holes(cut);
            return got == old || got == next || (row.from >= backup_at && got == defaults_text);
        });
    }
}
