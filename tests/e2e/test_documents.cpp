#include "tests/e2e/test_documents.h"

#include <cstdio>

namespace {

// Assembles numbered objects (1..n) into a PDF with a correct cross-reference table; object 1 is
// the catalog.
std::string assemble(const std::vector<std::string>& objects) {
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (const std::size_t offset : offsets) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\n";
  pdf += "startxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

std::string stream_object(const std::string& content) {
  return "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream";
}

// Objects: 1 catalog, 2 pages, 3 font, then a page and its content per text; extra objects
// follow.
std::vector<std::string> page_objects(const std::vector<std::string>& page_texts) {
  std::string kids;
  for (std::size_t i = 0; i < page_texts.size(); ++i) {
    kids += std::to_string(4 + 2 * i) + " 0 R ";
  }
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(page_texts.size()) + " >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
  for (std::size_t i = 0; i < page_texts.size(); ++i) {
    objects.push_back(
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font "
        "<< /F1 3 0 R >> >> /Contents " +
        std::to_string(5 + 2 * i) + " 0 R >>");
    objects.push_back(stream_object("BT /F1 24 Tf 72 700 Td (" + page_texts[i] + ") Tj ET"));
  }
  return objects;
}

}  // namespace

std::string text_pdf(const std::vector<std::string>& page_texts) {
  return assemble(page_objects(page_texts));
}

std::string large_pdf(const std::string& text, std::size_t size) {
  std::vector<std::string> objects = page_objects({text});
  std::string filler(size, '\0');
  // Varied bytes, so that a copy that repeats or drops a block cannot match by accident.
  unsigned state = 12345;
  for (char& byte : filler) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  objects.push_back(stream_object(filler));
  return assemble(objects);
}
