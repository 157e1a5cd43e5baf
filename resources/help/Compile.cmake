# Compiles the help pages into ZephyratePro.chm:
#   cmake -DCHMCMD=... -DSOURCE=resources/help -DWORK=dir -DOUTPUT=file -P Compile.cmake
# chmcmd (fp-utils 3.2.2) writes the header's second GUID with 0x10 where the format has
# 0x11 (byte 0x28, giving {7C01FD11-7BAA-11D0-9E0C-00A0C922E6EC}); libmspack refuses the
# file until that byte is corrected.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(GLOB pages ${SOURCE}/*.htm ${SOURCE}/*.hhp)
file(COPY ${pages} DESTINATION ${WORK})
execute_process(COMMAND ${CHMCMD} --no-html-scan ZephyratePro.hhp WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE errors)
if(failed OR NOT EXISTS ${WORK}/ZephyratePro.chm)
    message(FATAL_ERROR "chmcmd could not compile the help: ${errors}")
endif()
execute_process(COMMAND sh -c "printf '\\021' | dd of=ZephyratePro.chm bs=1 seek=40 conv=notrunc status=none"
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "could not correct the help file's header")
endif()
file(COPY_FILE ${WORK}/ZephyratePro.chm ${OUTPUT})
