# Read by cpack before it installs the project into its staging folder: the
# install rules then leave the unit to add_unit_to_deb.cmake.
set(ENV{CORVANE_PACKAGING} 1)
