// PDF documents for the end-to-end prints: small ones with text to read back, large ones to
// stream.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A valid PDF with one Letter page per text, each page showing its text in Helvetica.
std::string text_pdf(const std::vector<std::string>& page_texts);

// A valid one-page PDF of at least size bytes: the page shows text; an unused stream object of
// varied bytes makes up the size.
std::string large_pdf(const std::string& text, std::size_t size);
