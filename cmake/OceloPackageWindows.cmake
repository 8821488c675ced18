# What the Windows build installs, and the two packages made from it (`make package-windows`, or
# `cpack -G "ZIP;NSIS"` in build/windows):
#   ocelo-windows-VERSION.zip         a folder ocelo-windows-VERSION with the files below
#   ocelo-windows-VERSION-setup.exe   an NSIS installer of the same files, with an uninstaller
# Both hold one flat folder, as Windows programs are laid out:
#   ocelo-cli.exe    the terminal program
#   ocelo.exe        the dialog, when the build has it (the `ocelo` target)
#   README.txt       packaging/windows/README.txt, with the version filled in
#   LICENSE.txt      the licence (MIT)
# The two texts get CR LF line ends, which every Notepad shows as lines.
#
# The installer (CPack's NSIS generator, Debian nsis) is a 64-bit one, as the programs are: Program Files,
# not Program Files (x86), and the 64-bit registry. It adds a Start-menu folder "Ocelo" (the dialog, the
# README and the uninstaller), registers itself under Add or remove programs, and offers to uninstall an
# older installation first (a silent install does so). Its uninstaller deletes the files it installed, one by one, and the folder only when
# nothing else is left in it, so a file of the user's in the program's folder survives. It leaves the PATH
# alone: CPack's code for it edits the variable in NSIS's 1024-character strings, and a longer PATH would
# be cut; README.txt says how to run ocelo-cli.exe from any folder.

install(TARGETS ocelo-cli RUNTIME DESTINATION .)
if(TARGET ocelo)
  install(TARGETS ocelo RUNTIME DESTINATION .)
endif()

set(_ocelo_package_dir ${CMAKE_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt ${_ocelo_package_dir}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${_ocelo_package_dir}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${_ocelo_package_dir}/README.txt ${_ocelo_package_dir}/LICENSE.txt DESTINATION .)

# The installer's and the uninstaller's icon: the programs' own (ocelo_windows_icon in src/); NSIS's when
# the tools to make it are missing.
get_property(_ocelo_installer_ico GLOBAL PROPERTY OCELO_WINDOWS_ICO)

set(CPACK_GENERATOR "ZIP;NSIS")
set(CPACK_PACKAGE_NAME Ocelo)
set(CPACK_PACKAGE_VENDOR "the Ocelo developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "text-encoding converter for UTF-8, UTF-16 and Shift_JIS (cp932)")
set(CPACK_PACKAGE_FILE_NAME ocelo-windows-${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${_ocelo_package_dir}/LICENSE.txt)
set(CPACK_STRIP_FILES ON)
# Per generator: the installer's "-setup" and the time strip writes (packaging/windows/CPackOptions.cmake).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/windows/CPackOptions.cmake)

# One install folder and one Add or remove programs entry whatever the version, so that a newer
# installer replaces the older installation (after asking; a silent one does it without asking).
set(CPACK_PACKAGE_INSTALL_DIRECTORY Ocelo)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Ocelo)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME Ocelo)
set(CPACK_NSIS_DISPLAY_NAME "Ocelo ${PROJECT_VERSION}")
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# The text along the bottom of its pages, in place of NSIS's name and version (CPack's own option for it
# writes a /TRIM flag that makensis on Linux refuses).
set(CPACK_NSIS_DEFINES "BrandingText 'Ocelo ${PROJECT_VERSION}'")
set(CPACK_NSIS_MODIFY_PATH OFF)
# NSIS's 64-bit stubs, chosen before the script is read (the headers it includes ask which). cpack
# parses this value as a command line twice on its way to makensis; the twice-escaped space comes through
# as one argument, "-XTarget amd64-unicode" (a plain or quoted space splits it in two).
set(CPACK_NSIS_EXECUTABLE_PRE_ARGUMENTS [[-XTarget\\ amd64-unicode]])
set(CPACK_NSIS_MENU_LINKS README.txt "Ocelo README")
# Add or remove programs shows the dialog's icon, else the uninstaller's (the program's icon too).
set(CPACK_NSIS_INSTALLED_ICON_NAME Uninstall.exe)
if(TARGET ocelo)
  list(PREPEND CPACK_NSIS_MENU_LINKS ocelo.exe Ocelo)
  set(CPACK_NSIS_INSTALLED_ICON_NAME ocelo.exe)
endif()
if(_ocelo_installer_ico)
  set(CPACK_NSIS_MUI_ICON ${_ocelo_installer_ico})
  set(CPACK_NSIS_MUI_UNIICON ${_ocelo_installer_ico})
endif()

include(CPack)
