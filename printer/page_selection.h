// The pages of a document a job asks for (its page-ranges) and how many copies of them.
#pragma once

#include <pappl/pappl.h>

#include <climits>
#include <string>

struct PageSelection {
  unsigned first = 1;
  unsigned last = UINT_MAX;  // UINT_MAX: to the end of the document
  int copies = 1;
};

// The selection of a job's print options.
PageSelection job_page_selection(const pappl_pr_options_t& options);

// True when the selection is certainly the whole document once, whatever its length.
bool selects_whole_document(const PageSelection& selection);

// Outcome of writing a selection.
struct SelectionResult {
  enum Kind {
    written,
    whole_document,  // every page once: nothing written
    unprintable,     // the document cannot be read as a PDF, or has none of the pages
    write_failed,    // the new document could not be written
  } kind = unprintable;
  std::string error;    // for the failures: why, as the job's message and log line tell it
  int write_error = 0;  // for write_failed: the errno that stopped the writing, EIO if unknown
};

// Writes the selected pages of the PDF document at input_path, copies times over and collated, as
// a new PDF document to output_path (replacing what is there). Gives whole_document, writing
// nothing, when the selection is every page once: the caller then keeps the document as it is.
SelectionResult write_page_selection(const std::string& input_path, const PageSelection& selection,
                                     const std::string& output_path);
