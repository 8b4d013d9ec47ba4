// A sha256sum list read, and images checked against it.
#include "app/ImageManifest.h"

#include <gtest/gtest.h>

namespace {

const std::string A(64, 'a');
const std::string B = std::string(63, 'b') + "B"; // upper case as shasum may print it
const std::string b(64, 'b');

} // namespace

TEST(ImageManifest, ReadsSha256sumsFormsAndChecksEachImageByItsBareName) {
    const TImageManifest manifest(A + "  prog.bin\r\n" +        // text mode, CRLF
                                      B + " *./pagesV1.bin\n" + // binary mode, a folder
                                      "\n# comment\n" + A + "  old/twice.bin\n" + b +
                                      "  new/twice.bin\n" + "\\" + A + "  new\\nline.bin\n",
                                  "SUMS");
    ASSERT_EQ(manifest.Entries().size(), 5u);
    EXPECT_EQ(manifest.Entries()[1].Sha256, b);
    EXPECT_EQ(manifest.Entries()[4].Name, "new\nline.bin");
    struct Row {
        std::string name, sha256;
        std::optional<std::string> refusal;
    } rows[] = {
        {"prog.bin", A, std::nullopt},
        {"prog.bin", std::string(64, 'A'), std::nullopt},
        {"pagesV1.bin", b, std::nullopt},
        {"new\nline.bin", A, std::nullopt},
        {"prog.bin", b, "prog.bin has SHA-256 " + b + ", but SUMS lists " + A},
        {"PROG.BIN", A, "PROG.BIN is not listed in SUMS (its SHA-256 is " + A + ")"},
        {"twice.bin", A,
         "twice.bin is listed in SUMS with 2 different SHA-256 digests (" + A + ", " + b +
             "); its own is " + A},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(manifest.Refusal(row.name, row.sha256), row.refusal);
    }
}

TEST(ImageManifest, RefusesALineThatIsNoDigestAndName) {
    for (const std::string& line :
         {A + " prog.bin", A + "  ", A.substr(1) + "  prog.bin", std::string(63, 'a') + "g  x",
          "\\" + A + "  bad\\escape", "SHA256 (prog.bin) = " + A}) {
        SCOPED_TRACE(line);
        try {
            TImageManifest("\n" + line + "\n", "SUMS");
            ADD_FAILURE() << "taken";
        } catch (const EManifestError& e) {
            EXPECT_EQ(e.Message().rfind("SUMS line 2: ", 0), 0u) << e.Message();
        }
    }
}
