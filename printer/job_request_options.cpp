// Answers for job options the printer cannot apply. PAPPL 1.3.1 (valid_job_attributes() in
// printer-ipp.c) refuses a Print-Job or Create-Job with client-error-attributes-or-values-not-
// supported for more page ranges than max-page-ranges-supported and for copies above its fixed
// 999, whatever ipp-attribute-fidelity says; IPP has a job without fidelity made without such an
// option, answered successful-ok-ignored-or-substituted-attributes. It checks nothing else before
// that but the client's authorisation, so the request is corrected there. A version that follows
// ipp-attribute-fidelity for every option lets this file go.
#include "printer/job_request_options.h"

namespace {

// True when attr is well formed page ranges, more than the one range the printer applies.
bool several_page_ranges(ipp_attribute_t* attr) {
  if (ippGetValueTag(attr) != IPP_TAG_RANGE || ippGetCount(attr) < 2) return false;
  for (int i = 0; i < ippGetCount(attr); ++i) {
    int upper = 0;
    const int lower = ippGetRange(attr, i, &upper);
    if (lower < 1 || upper < lower) return false;
  }
  return true;
}

// True when attr asks for more copies than are made.
bool too_many_copies(ipp_attribute_t* attr) {
  return ippGetValueTag(attr) == IPP_TAG_INTEGER && ippGetCount(attr) == 1 &&
         ippGetInteger(attr, 0) > MAX_COPIES;
}

// Moves attr from the request into the response's unsupported group.
void ignore(pappl_client_t* client, ipp_attribute_t* attr) {
  papplClientRespondIPP(client, IPP_STATUS_OK_IGNORED_OR_SUBSTITUTED,
                        "Ignoring unsupported %s value.", ippGetName(attr));
  ipp_t* response = papplClientGetResponse(client);
  ipp_attribute_t* copy = ippCopyAttribute(response, attr, 0);
  ippSetGroupTag(response, &copy, IPP_TAG_UNSUPPORTED_GROUP);
  ippDeleteAttribute(papplClientGetRequest(client), attr);
}

}  // namespace

void ignore_unappliable_job_options(pappl_client_t* client) {
  const ipp_op_t operation = papplClientGetOperation(client);
  if (operation != IPP_OP_PRINT_JOB && operation != IPP_OP_CREATE_JOB) return;
  ipp_t* request = papplClientGetRequest(client);
  if (ippGetBoolean(ippFindAttribute(request, "ipp-attribute-fidelity", IPP_TAG_BOOLEAN), 0))
    return;
  if (ipp_attribute_t* ranges = ippFindAttribute(request, "page-ranges", IPP_TAG_ZERO);
      ranges != nullptr && several_page_ranges(ranges)) {
    ignore(client, ranges);
  }
  if (ipp_attribute_t* copies = ippFindAttribute(request, "copies", IPP_TAG_ZERO);
      copies != nullptr && too_many_copies(copies)) {
    ignore(client, copies);
  }
}
