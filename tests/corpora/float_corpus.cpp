// Float reading conformance against the public parse-number-fxx corpus:
// every line gives a decimal text and the binary64 bits it must read to.
// Texts that are not float literals of the language (hexadecimal floats,
// "inf", "1.e5", digit separators other than "'", texts of 313 characters
// or more, ...) are skipped; their list is kept in the known-outcomes file
// float_rejected.txt beside this driver, so any change in what is accepted
// shows as a diff. Set QEL_UPDATE_KNOWN=1 to rewrite that file.
// The corpus lives next to the project (../shared/corpora/float, or the
// folder named by QEL_CORPORA_DIR); without it the tests skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "datatypes/float_text.hpp"
#include "datatypes/number_text.hpp"

namespace {

using namespace qel;

std::string corpus_dir() {
    const char* env = std::getenv("QEL_CORPORA_DIR");
    return std::string(env && *env ? env : QEL_CORPORA_DIR) + "/float";
}

std::string known_path() { return std::string(QEL_TESTS_DIR) + "/corpora/float_rejected.txt"; }

// The outcome of one text: whether it is a float literal, and its value.
bool read_literal(const std::string& text, double& value) {
    if (!number_text::float_syntax(text.data(), text.size())) return false;
    std::string plain;
    for (char c : text)
        if (c != '\'') plain += c;
    size_t unparsed = 1;
    value = float_text::parse(plain.data(), plain.data() + plain.size(), 0, &unparsed);
    return unparsed == 0;
}

TEST(FloatCorpus, EveryLiteralReadsToItsBits) {
    const std::string dir = corpus_dir();
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "float corpus not found at " << dir;
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".txt") files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());

    size_t rows = 0, accepted = 0, mismatches = 0;
    std::vector<std::string> rejected;
    for (const std::string& name : files) {
        std::ifstream in(dir + "/" + name);
        std::string line;
        while (std::getline(in, line)) {
            if (line.size() < 31 || line[4] != ' ' || line[13] != ' ' || line[30] != ' ') continue;
            rows++;
            const std::string text = line.substr(31);
            const uint64_t expected = std::stoull(line.substr(14, 16), nullptr, 16);
            double v = 0;
            if (!read_literal(text, v)) {
                // Too long for a literal, but the reader itself must still
                // get them right: they exercise its digit truncation.
                std::string plain = text;
                if (text.size() >= number_text::FLOAT_TEXT_LIMIT && !plain.empty() && plain.back() != '.') {
                    size_t unparsed = 1;
                    const double d = float_text::parse(plain.data(), plain.data() + plain.size(), 0, &unparsed);
                    uint64_t bits;
                    std::memcpy(&bits, &d, 8);
                    EXPECT_EQ(unparsed, 0u) << name << ": " << text.substr(0, 40);
                    EXPECT_EQ(bits, expected) << name << ": " << text.substr(0, 40);
                }
                // Long texts are listed by their length only.
                rejected.push_back(name + ": " +
                                   (text.size() > 60 ? text.substr(0, 40) + "... (" + std::to_string(text.size()) +
                                                           " characters)"
                                                     : text));
                continue;
            }
            accepted++;
            uint64_t bits;
            std::memcpy(&bits, &v, 8);
            if (bits != expected && ++mismatches <= 20)
                ADD_FAILURE() << name << ": " << text.substr(0, 80) << " read as " << std::hex << bits
                              << ", expected " << expected;
        }
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(accepted, rows / 2);

    std::ostringstream outcome;
    outcome << "# Corpus texts that are not float literals of the language.\n";
    outcome << "# rows " << rows << ", accepted " << accepted << ", rejected " << rejected.size() << "\n";
    for (const std::string& r : rejected) outcome << r << "\n";

    const char* update = std::getenv("QEL_UPDATE_KNOWN");
    if (update && *update == '1') {
        std::ofstream(known_path()) << outcome.str();
        return;
    }
    std::ifstream known_in(known_path());
    ASSERT_TRUE(known_in) << "missing " << known_path() << " (QEL_UPDATE_KNOWN=1 writes it)";
    std::stringstream known;
    known << known_in.rdbuf();
    if (known.str() == outcome.str()) return;
    // Report the first lines that differ, not two walls of text.
    std::istringstream a(known.str()), b(outcome.str());
    std::string la, lb;
    int shown = 0;
    for (int n = 1; shown < 10; n++) {
        const bool more_a = static_cast<bool>(std::getline(a, la));
        const bool more_b = static_cast<bool>(std::getline(b, lb));
        if (!more_a && !more_b) break;
        if (!more_a) la.clear();
        if (!more_b) lb.clear();
        if (la != lb) {
            ADD_FAILURE() << "line " << n << ": known \"" << la << "\", now \"" << lb << "\"";
            shown++;
        }
    }
    if (shown == 0) ADD_FAILURE() << "known outcomes differ from this run";
}

}  // namespace
