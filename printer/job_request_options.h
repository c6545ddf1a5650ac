// Job requests that ask for what the printer cannot apply.
#pragma once

#include <pappl/pappl.h>

// Copies above this many are not made.
inline constexpr int MAX_COPIES = 999;

// For Print-Job and Create-Job without ipp-attribute-fidelity: takes out of the request the job
// options the printer cannot apply (more than one page range, more than MAX_COPIES copies) and
// answers successful-ok-ignored-or-substituted-attributes with each in the unsupported group, as
// IPP asks; the job is then made without them. Other requests are left as they are, so that the
// framework refuses them. Must run before the framework checks the request's job options.
void ignore_unappliable_job_options(pappl_client_t* client);
