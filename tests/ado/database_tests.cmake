# corvane_database_test(NAME SOURCES ... LIBS ...)
# Builds the same test bodies three times: NAME_sqlite against a SQLite file,
# NAME_postgres (label "postgres") against the server in CORVANE_TEST_PG and
# NAME_mariadb (label "mariadb") against the server in CORVANE_TEST_MARIADB.
function(corvane_database_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  corvane_test(${name}_sqlite SOURCES ${T_SOURCES} LIBS ${T_LIBS} LABELS fast)
  target_compile_definitions(${name}_sqlite PRIVATE CORVANE_TEST_DATABASE="sqlite" CORVANE_TEST_DATABASE_NAME=SQLite)
  corvane_test(${name}_postgres SOURCES ${T_SOURCES} LIBS ${T_LIBS} LABELS postgres)
  target_compile_definitions(${name}_postgres PRIVATE CORVANE_TEST_DATABASE="postgres"
                                                      CORVANE_TEST_DATABASE_NAME=PostgreSQL)
  corvane_test(${name}_mariadb SOURCES ${T_SOURCES} LIBS ${T_LIBS} LABELS mariadb)
  target_compile_definitions(${name}_mariadb PRIVATE CORVANE_TEST_DATABASE="mariadb" CORVANE_TEST_DATABASE_NAME=MariaDB)
endfunction()
