// Keyword list 3: ISLISP; 62 words, as handed to the Lisp lexer.
#include "editor/KeywordData.h"

const char g_szKeywordsIsLisp[] =
    "&rest :abstractp :accessor :after :around :before :boundp :generic-function-class :initarg"
    " :initform :metaclass :method :method-combination :reader :rest :writer and assure block"
    " case case-using catch class cond convert defclass defconstant defdynamic defgeneric"
    " defglobal defmacro defmethod defun dynamic dynamic-let flet for function go if"
    " ignore-errors labels lambda let or progn quote return-from setf setq tagbody the throw"
    " unwind-protect while with-error-output with-handler with-open-input-file"
    " with-open-io-file with-open-output-file with-standard-input with-standard-output";
