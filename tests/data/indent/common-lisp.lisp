;;;; A sample of Common Lisp, every line flush left.
(defpackage :sample
(:use :cl)
(:export #:main))
(in-package :sample)

(defvar *table* (make-hash-table :test #'equal)
"Interned names, by string.")

(defun describe-it (thing &optional (stream *standard-output*)
&key verbose)
"Print THING to STREAM.
  This line of the docstring keeps its (odd) indentation
and so does this one."
(let ((open #\()
(close #\))
(semi #\;))
#| A block comment
  spanning lines (with a bracket
keeps its lines as they are |#
(format stream "~a~a~a ~s" open thing close semi)
(when verbose
; a comment of its own
;; a comment in the code
(print '(a b
c d) stream))))

(defmacro with-sample ((var value) &body body)
`(let ((,var ,value))
,@body))

(with-sample (x 1)
(print x))

(defun classify (n)
(cond ((< n 0) :negative)
((= n 0)
:zero)
(t
:positive)))

(defun collect-evens (list)
(loop for x in list
when (evenp x)
collect x
finally (return nil)))

(flet ((twice (x)
(* 2 x)))
(twice #+sbcl 1
#-sbcl 2))

(defun unfinished (a
b)
(list a
