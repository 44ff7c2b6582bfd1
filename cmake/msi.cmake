# Makes the Windows installer of one build: wixl turns cmake/nonl.wxs into OUT, then msibuild
# adds what wixl cannot write, the PATH entry of the user (or of every user, for ALLUSERS=1),
# removed again with the package, and the actions that write and remove it.
# cmake -DWIXL=... -DMSIBUILD=... -DARCH=x86|x64 -DVERSION=... -DEXE=... -DLICENSE=... -DMANUAL=...
#       -DWXS=... -DOUT=... -P msi.cmake
if(ARCH STREQUAL "x64")
  set(program_files ProgramFiles64Folder)
  set(win64 yes)
else()
  set(program_files ProgramFilesFolder)
  set(win64 no)
endif()
foreach(path EXE LICENSE MANUAL WXS OUT)
  get_filename_component(${path} "${${path}}" ABSOLUTE)
endforeach()
# wixl takes the files by names relative to where it runs: they are gathered there.
set(files ${OUT}.files)
file(REMOVE_RECURSE ${files})
file(MAKE_DIRECTORY ${files})
file(COPY ${EXE} ${LICENSE} ${MANUAL} DESTINATION ${files})
get_filename_component(exe ${EXE} NAME)
get_filename_component(manual ${MANUAL} NAME)
execute_process(
  COMMAND ${WIXL} -a ${ARCH} -D Version=${VERSION} -D ProgramFiles=${program_files} -D Win64=${win64}
          -D Exe=${exe} -D License=LICENSE -D Manual=${manual} -o ${OUT} ${WXS}
  WORKING_DIRECTORY ${files}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "wixl could not make ${OUT}")
endif()
function(query text)
  execute_process(COMMAND ${MSIBUILD} ${OUT} -q "${text}" RESULT_VARIABLE failed)
  if(failed)
    file(REMOVE ${OUT})
    message(FATAL_ERROR "msibuild could not run on ${OUT}: ${text}")
  endif()
endfunction()
# Environment: =-PATH sets the user's PATH and takes it away with the package, =-*PATH every
# user's; [~]; appends to what is there.
query("CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)")
foreach(entry "UserPath =-PATH" "MachinePath =-*PATH")
  string(REPLACE " " ";" entry "${entry}")
  list(GET entry 0 component)
  list(GET entry 1 name)
  query("INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES ('${component}', '${name}', '[~];[INSTALLFOLDER]', '${component}')")
endforeach()
query("UPDATE `Component` SET `Condition` = 'NOT ALLUSERS' WHERE `Component` = 'UserPath'")
query("UPDATE `Component` SET `Condition` = 'ALLUSERS' WHERE `Component` = 'MachinePath'")
query("INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)")
query("INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)")
