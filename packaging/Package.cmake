# The Debian package: `cpack -G DEB` in the build folder turns the install
# rules into tessavo_VERSION_ARCH.deb. Paths are relative to /usr there.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessavo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the tessavo developers")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)   # tessavo_0.12_amd64.deb
set(CPACK_STRIP_FILES ON)                 # as Debian ships programs
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
  "tessavo maintainers <maintainers@users.noreply.c-seed-dd31a73b.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The libraries the program links, with the versions it needs, as
# dpkg-shlibdeps reads them from the binary (dpkg-dev and file, which
# scripts/setup installs).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Both tools start with numpy; what they draw and read with comes on top and
# is left out with --no-install-recommends by whoever only runs the program.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-numpy")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-matplotlib, python3-soundfile, python3-scipy")

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "split a recording into parts by non-negative matrix factorisation")
# The long description, wrapped for `apt show`; CPack indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
tessavo pulls one sound file (mono or stereo WAV, FLAC, Ogg and the other
formats of libsndfile) apart into a given number of layers, such as a bass
line, a chord pad and percussion, without any training data. It writes one
sound per part and what the parts leave over, and on request the factors
themselves as text for study in other tools. Given solo takes of named
sources it learns their spectra and pulls those sources out of a mix.

The same input and options give the same files, to the last bit, on any
number of threads. Scripts can rely on clear messages and exit statuses.

Also included: tessavo-plot-factors draws the factors of a run as a picture,
and tessavo-evaluate scores separated sounds against reference recordings.]=])

include(CPack)
