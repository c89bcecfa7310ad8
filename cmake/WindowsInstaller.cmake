# The Windows installer: an MSI made with wixl (Debian's msitools) from
# packaging/Halvorne.wxs.in, holding the programs of this build
# (Halvorne.exe when the build has it, VELTRIX.exe). Included by
# cmake/Packaging.cmake in the Windows build.
find_program(WIXL_EXECUTABLE wixl)
if(NOT WIXL_EXECUTABLE)
  message(STATUS "wixl not found (Debian: wixl): no MSI")
  return()
endif()

# Never change it: Windows Installer knows the product's earlier versions,
# which an install replaces, by this code.
set(HALVORNE_MSI_UPGRADE_CODE "6D1C2E0A-4F0B-4E55-9C1A-3B8E7A2D5F41")
set(HALVORNE_MSI_MANUFACTURER "Halvorne" CACHE STRING "The Manufacturer of the Windows installer")
set(HALVORNE_MSI_VERSION "${HALVORNE_PACKAGE_VERSION}.0")
set(HALVORNE_MSI_FILE "${CMAKE_BINARY_DIR}/packages/Halvorne-${HALVORNE_PACKAGE_VERSION}-win64.msi")

# One component per program, each with a GUID of its own that stays the
# same from version to version. A per-user component's key is a value under
# HKCU (a file in the user's profile cannot be one).
set(_msi_guid_Halvorne "2B7E4C19-85A3-4F6D-B0E2-91C4D7A3E5F8")
set(_msi_guid_VELTRIX "A3C1F7E2-0D52-4B8E-9A61-7C2F4E9B1D03")
set(HALVORNE_MSI_COMPONENTS "")
set(HALVORNE_MSI_COMPONENT_REFS "")
set(_msi_programs "")
set(_msi_remove_folder "\n        <RemoveFolder Id=\"RemoveInstallDir\" On=\"uninstall\"/>")
foreach(program Halvorne VELTRIX)
  if(NOT TARGET ${program})
    continue()
  endif()
  string(APPEND HALVORNE_MSI_COMPONENTS "      <Component Id=\"${program}Program\" Guid=\"${_msi_guid_${program}}\">
        <RegistryValue Root=\"HKCU\" Key=\"Software\\Halvorne\\Installer\" Name=\"${program}\" Type=\"integer\" Value=\"1\" KeyPath=\"yes\"/>
        <File Id=\"${program}Exe\" Name=\"${program}.exe\" Source=\"$<PATH:RELATIVE_PATH,$<TARGET_FILE:${program}>,${CMAKE_BINARY_DIR}>\"/>${_msi_remove_folder}
      </Component>\n")
  string(APPEND HALVORNE_MSI_COMPONENT_REFS "      <ComponentRef Id=\"${program}Program\"/>\n")
  list(APPEND _msi_programs ${program})
  set(_msi_remove_folder "")
endforeach()

configure_file("${PROJECT_SOURCE_DIR}/packaging/Halvorne.wxs.in" "${CMAKE_BINARY_DIR}/packaging/Halvorne.wxs.in" @ONLY)
file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/packaging/Halvorne.wxs" INPUT "${CMAKE_BINARY_DIR}/packaging/Halvorne.wxs.in")
add_custom_command(OUTPUT "${HALVORNE_MSI_FILE}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/packages"
  COMMAND "${WIXL_EXECUTABLE}" -a x64 -o "${HALVORNE_MSI_FILE}" "${CMAKE_BINARY_DIR}/packaging/Halvorne.wxs"
  DEPENDS ${_msi_programs} "${CMAKE_BINARY_DIR}/packaging/Halvorne.wxs"
  # wixl takes a file's source only relative to where it runs.
  WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
  COMMENT "Windows installer ${HALVORNE_MSI_FILE}"
  VERBATIM)
add_custom_target(msi ALL DEPENDS "${HALVORNE_MSI_FILE}")
