// Work-around for PAPPL 1.3.1 taking a document cut short for a whole one, and not logging a
// spool file it could not write.
//
// What goes wrong: _papplJobCopyDocumentData() (job-ipp.c) reads the document until httpRead2()
// returns 0 and submits what it got. libcups 2.4 returns 0 also when the client closed the
// connection before the end of a Content-Length body, when a chunked body breaks off (closed or
// reset) before its last chunk, and on a read time-out; the framework then prints the cut
// document as a completed job. _papplJobProcessRaster() (job-process.c) ends a raster stream
// at such a 0 as if it were complete. When writing the spool file fails (the spool folder is
// full), the client is answered but nothing is logged and the printer shows no reason.
//
// The program's own httpRead2() stands in front of libcups' (the dynamic linker binds the
// framework's calls to the executable's definition): a 0 that is not the end of the body
// becomes -1 (errno EPIPE), the read error on which the framework aborts the job, and the job
// gets the reason. It also sees, between two reads, that the framework removed the job's spool
// file after a failed write, and reports that failure.
//
// A fixed version must check that the body really ended (httpGetState() past
// HTTP_STATE_POST_RECV and httpError() 0) before submitting a job, give the aborted job a
// reason, and log a failed spool write with its error; then this file can go.
#pragma once

#include <pappl/pappl.h>

#include <string>

// The framework spools documents into folder; start-up tells it before the printer starts.
void watch_spool_writes_in(const std::string& folder);

// The framework created job on the calling thread (a client connection's thread): the document
// read next on this thread, if any, is the job's.
void note_job_receiving(pappl_job_t* job);

// True when the document of job_id that this thread received was cut short; clears the mark.
bool take_cut_document(int job_id);
