; A sample of newLISP, every line flush left.
(define (describe-it thing)
"Print THING.
  This line of the string keeps its indentation."
(let ((items '(a b
c d))
(note {a {nested}
brace string}))
# a hash comment
(println thing)))

(dolist (x '(1 2 3))
(println x))

(define (unfinished a
b)
(list a
