// What the user reads of a document that cannot be saved: the document and the cause (the
// causes the program meets on small file systems are in tests/e2e/save_failure_test.cpp).
#include "printer/job_failure.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "core/text.h"

namespace {

TEST(SaveFailureText, NamesTheDocumentThePlaceAndTheCause) {
  struct Case {
    SaveStage stage;
    int error;
    const char* cause;
  } cases[] = {
      {SaveStage::output, EDQUOT, "the output folder /o has no space left (Disk quota exceeded)"},
      {SaveStage::output, ENOTDIR, "the output folder /o is not a folder (Not a directory)"},
      {SaveStage::output, ENOENT, "the output folder /o is missing and cannot be made (No such"},
      {SaveStage::spool, EIO, "writing into the printer's spool folder /o failed (Input/output"},
  };
  for (const Case& c : cases) {
    const std::string cause = save_failure_cause(c.stage, "/o", c.error);
    EXPECT_EQ(cause.rfind(c.cause, 0), 0u) << cause;
    const std::string box = *wide_to_utf8(save_failure_box_text("Rechnung März", cause));
    EXPECT_NE(box.find("\u201CRechnung März\u201D could not be saved: " + cause + "."),
              std::string::npos)
        << box;
  }
}

}  // namespace
