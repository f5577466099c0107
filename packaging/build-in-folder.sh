#!/bin/sh
# Starts the installed template in build mode in a folder of the user's. The template
# lists the firmware files of its current directory, reads W2KVQXXXX.EXE from there and
# writes the new program there too; a folder under /usr/lib can be none of that.
#
#   build-in-folder [FOLDER]      FOLDER: default "QVX-5500 releases" in the home folder
#
# The folder is made if it is missing; W2KVQXXXX.EXE in it links to the installed
# template unless the user keeps a file of that name there.
set -e
folder=${1:-"$HOME/QVX-5500 releases"}
mkdir -p "$folder"
cd "$folder"
if [ -L @PROGRAM@ ] || [ ! -e @PROGRAM@ ]; then
  ln -sfn @LIBDIR@/@PROGRAM@ @PROGRAM@
fi
exec @LIBDIR@/@PROGRAM@
