# omniORB, ACE and SQLite, as Debian installs them (pkg-config files).
find_package(PkgConfig REQUIRED)
pkg_check_modules(OMNIORB REQUIRED IMPORTED_TARGET GLOBAL omniORB4 omniDynamic4 omnithread4)
pkg_check_modules(ACE REQUIRED IMPORTED_TARGET GLOBAL ACE)
# The operation journal (KroJournal): Debian's libsqlite3-dev.
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET GLOBAL sqlite3)
find_package(Threads REQUIRED)
find_program(OMNIIDL_EXECUTABLE omniidl REQUIRED)
