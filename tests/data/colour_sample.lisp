;;; A small Common Lisp sample for the colouring check.
(defun fact (n)
  "Factorial of N."
  (if (<= n 1) 1 (* n (fact (- n 1)))))
#| block
   comment |#
(defvar *table* (make-hash-table :test #'equal))
(format t "~a ~d~%" 'sym 42.5) ; trailing comment
(let ((s "a \"quoted\" (paren)")) (length s))
