# The product library (everything but main) and the executable.
add_library(telvana STATIC)
target_include_directories(telvana PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_definitions(telvana PUBLIC
  TELVANA_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  TELVANA_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  TELVANA_VERSION_PATCH=${PROJECT_VERSION_PATCH}
  TELVANA_VERSION_TWEAK=${PROJECT_VERSION_TWEAK})
target_link_libraries(telvana PUBLIC
  PkgConfig::PAPPL PkgConfig::GTK3 PkgConfig::WEBKIT PkgConfig::CAIRO PkgConfig::CURL PkgConfig::GIO
  Threads::Threads)
# The framework's DNS-SD registration is replaced (printer/dns_sd_announcement.cpp): every program
# linking the library exports the replacements, so that the framework's own calls reach them.
target_link_options(telvana INTERFACE
  "LINKER:--export-dynamic-symbol=_papplPrinterRegisterDNSSDNoLock"
  "LINKER:--export-dynamic-symbol=_papplSystemRegisterDNSSDNoLock")
if(sentry_FOUND)
  target_link_libraries(telvana PUBLIC sentry::sentry)
  target_compile_definitions(telvana PUBLIC TELVANA_WITH_SENTRY=1)
endif()

foreach(dir core app platform bridge window files net printer)
  add_subdirectory(${dir})
endforeach()

add_executable(telvana-print app/main.cpp)
target_link_libraries(telvana-print PRIVATE telvana)
set_target_properties(telvana-print PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
add_subdirectory(examples)
