# Run by cpack once it has installed the files to pack, before it packs them
# (CPACK_PRE_BUILD_SCRIPTS). install() gives files their modes, but folders
# are made under the builder's umask: with 027, say, the package would make
# /usr/share/doc/brisel a folder that only root may enter, and each umask
# would give other bytes. Folders get rwxr-xr-x, as the Debian policy asks.
file(GLOB_RECURSE paths LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(path IN LISTS paths)
  if(IS_DIRECTORY "${path}" AND NOT IS_SYMLINK "${path}")
    file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
