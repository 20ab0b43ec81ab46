# SQLite built from its amalgamation (sqlite3.c and sqlite3.h in
# QUILLMARCH_SQLITE_AMALGAMATION), for a platform without a system SQLite: the
# Windows build. It takes the place of find_package(SQLite3)'s SQLite::SQLite3.
enable_language(C)
add_library(quillmarch_sqlite3 STATIC ${QUILLMARCH_SQLITE_AMALGAMATION}/sqlite3.c)
target_include_directories(quillmarch_sqlite3 SYSTEM PUBLIC ${QUILLMARCH_SQLITE_AMALGAMATION})
# SQLite's own defaults, as the Linux build's system library has them; only the
# loading of extensions, which the program never does, is left out.
target_compile_definitions(quillmarch_sqlite3 PRIVATE SQLITE_OMIT_LOAD_EXTENSION)
set_target_properties(quillmarch_sqlite3 PROPERTIES C_STANDARD 11)
add_library(SQLite::SQLite3 ALIAS quillmarch_sqlite3)
